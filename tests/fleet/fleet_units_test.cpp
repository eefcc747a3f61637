// The pure parts of tvflash-fleet: targets and ranges, recipe steps, the command line, the
// progress read from the tool's output, the verdict, the record's formats, the live view and the
// station's decisions.
#include <gtest/gtest.h>

#include "live_view.h"
#include "options.h"
#include "process/subprocess.h"
#include "progress.h"
#include "recipe.h"
#include "record.h"
#include "station.h"
#include "targets.h"
#include "text.h"

using namespace fleet;

TEST(FleetTargets, TargetSamples) {
    const std::pair<std::string, std::string> samples[] = {
        {"10.10.10.10:4000", ""},
        {"255.255.255.255:65535", ""},
        {"0.0.0.0:1", ""},
        {"10.10.10.10", "'10.10.10.10' is not ADDRESS:PORT"},
        {"10.10.10:4000", "'10.10.10' is not an IPv4 address such as 10.10.10.10"},
        {"10.10.010.10:4000", "'10.10.010.10' is not an IPv4 address such as 10.10.10.10"},
        {"10.10.10.256:4000", "'10.10.10.256' is not an IPv4 address such as 10.10.10.10"},
        {"board.local:4000", "'board.local' is not an IPv4 address such as 10.10.10.10"},
        {"10.10.10.10:0", "'0' is not a port from 1 to 65535"},
        {"10.10.10.10:65536", "'65536' is not a port from 1 to 65535"},
        {"10.10.10.10:+4000", "'+4000' is not a port from 1 to 65535"},
        {"10.10.10.10:", "'' is not a port from 1 to 65535"},
    };
    for (const auto& [text, error] : samples) {
        ParsedTarget parsed = parse_target(text);
        EXPECT_EQ(parsed.error, error) << text;
        if (parsed.target) {
            EXPECT_EQ(parsed.target->text(), text);
        }
    }
}

TEST(FleetTargets, FileLinesCommentsAndRepeats) {
    TargetList list;
    add_targets(list, "10.0.0.1:4000", "target '10.0.0.1:4000'", std::nullopt);
    add_targets(list, "@boards.txt", "target '@boards.txt'",
                "# line 1\n10.0.0.2:4000  # the second\r\n\n10.0.0.1:4000\nnonsense\n");
    add_targets(list, "@gone.txt", "target '@gone.txt'", std::nullopt);
    ASSERT_EQ(list.targets.size(), 2u);
    EXPECT_EQ(list.targets[1].origin, "boards.txt line 2");
    EXPECT_EQ(list.errors,
              (std::vector<std::string>{
                  "boards.txt line 4: 10.0.0.1:4000 is given twice (first target '10.0.0.1:4000')",
                  "boards.txt line 5: 'nonsense' is not ADDRESS:PORT",
                  "target '@gone.txt': cannot read the target file 'gone.txt'"}));
}

TEST(FleetTargets, RangesAndTheirHosts) {
    const struct {
        std::string text;
        std::size_t hosts;
        std::string first;
        std::string error;
    } samples[] = {
        {"127.0.0.0/24", 254, "127.0.0.1", ""},
        {"127.0.0.77/28", 14, "127.0.0.65", ""},
        {"10.1.0.0/20", 4094, "10.1.0.1", ""},
        {"10.1.2.3/31", 2, "10.1.2.2", ""},
        {"10.1.2.3/32", 1, "10.1.2.3", ""},
        {"10.1.0.0/19", 0, "", "a scan covers at most a /20 (4094 addresses), not a /19"},
        {"10.1.0.0/33", 0, "", "'33' is not 0 to 32 bits"},
        {"10.1.0.0", 0, "", "'10.1.0.0' is not ADDRESS/BITS"},
    };
    for (const auto& s : samples) {
        ParsedRange parsed = parse_range(s.text);
        EXPECT_EQ(parsed.error, s.error) << s.text;
        if (parsed.range) {
            std::vector<std::uint32_t> hosts = host_addresses(*parsed.range);
            EXPECT_EQ(hosts.size(), s.hosts) << s.text;
            EXPECT_EQ(format_ipv4(hosts.front()), s.first) << s.text;
        }
    }
}

TEST(FleetRecipe, StepSamples) {
    const struct {
        std::string line;
        std::string text;  // the step as the tool gets it, or the error
    } samples[] = {
        {"erasesys", "erasesys"},
        {"  GetConfig  ", "getconfig"},
        {"updatesys images/os.bin", "updatesys base/images/os.bin"},
        {"updatesys\tmy image.bin ", "updatesys base/my image.bin"},
        {"formatdisk /abs/fs.bin", "formatdisk /abs/fs.bin"},
        {"updatesys", "updatesys needs an image file"},
        {"erase all", "erase takes no file, but 'all' follows it"},
        {"cyclic_version", "cyclic_version never ends, so it cannot be a step"},
        {"flash\x1b[2J", "unknown command 'flash\\x1b[2j'"},
    };
    for (const auto& s : samples) {
        ParsedStep parsed = parse_step({s.line, "r line 1"}, "base");
        EXPECT_EQ(parsed.step ? parsed.step->text() : parsed.error, s.text) << s.line;
    }
    std::vector<StepText> lines =
        recipe_lines("# head\n\nerasesys\r\n  # note\ngetconfig", "r.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].origin, "r.txt line 5");
}

TEST(FleetOptions, CommandLineSamples) {
    const struct {
        std::vector<std::string> args;
        std::string error;
    } samples[] = {
        {{"run", "-j4", "--answer=yes", "r.txt", "10.0.0.1:1"}, ""},
        {{"run", "--watch", "--gone", "2.5", "-e", "version", "10.0.0.1:1", "@more"}, ""},
        {{"check", "r.txt"}, ""},
        {{"scan", "10.0.0.0/24", "4000"}, ""},
        {{"flash", "r.txt"}, "unknown command 'flash' (run, check or scan)"},
        {{"run", "r.txt"}, "no target given (ADDRESS:PORT or @FILE)"},
        {{"run", "-e"}, "-e needs a value"},
        {{"run", "-j", "0", "r.txt", "10.0.0.1:1"}, "-j takes a number of boards from 1 to 256"},
        {{"run", "--answer", "maybe", "r", "t"}, "--answer takes yes or no"},
        {{"run", "--gone", "5", "r", "t"}, "--gone goes with --watch"},
        {{"run", "--watch", "--gone", "1", "r", "t"}, "--gone takes seconds from 2 to 86400"},
        {{"run", "--fast", "r", "t"}, "unknown option '--fast'"},
        {{"scan", "-j", "2", "10.0.0.0/24", "4000"}, "scan takes ADDRESS/BITS PORT"},
    };
    for (const auto& s : samples) {
        EXPECT_EQ(parse_options(s.args).error, s.error) << s.args[1];
    }
    Options options = parse_options(samples[1].args).options;
    EXPECT_EQ(options.inline_steps, std::vector<std::string>{"version"});
    EXPECT_EQ(options.targets, (std::vector<std::string>{"10.0.0.1:1", "@more"}));
    EXPECT_EQ(options.gone_seconds, 2.5);
    EXPECT_EQ(parse_options({"run", "--help", "--bad"}).options.mode, Mode::help);
}

TEST(FleetProgress, StagesAndPercentFromTheToolsOutput) {
    StepProgress progress(4 * 1024 + 1);  // five blocks
    const std::pair<std::string, std::string> samples[] = {
        {"Connecting to target 10.0.0.1 on port 4000...", "probing"},
        {".OK.\nRead file OS.BIN (4097 bytes).\nUploading", "uploading   0%"},
        {"..+*.", "uploading  60%"},
        {"..OK.\nTotal of 4097 bytes uploaded.\n", "uploading 100%"},
        {"File transfer consistency check...", "checking"},
        {"OK.\nUpdating flash memory...", "writing flash"},
    };
    for (const auto& [out, stage] : samples) {
        progress.feed(out);
        EXPECT_EQ(stage_text(progress.stage(), progress.percent()), stage) << out;
    }
    progress.set_operator_question(true);
    EXPECT_EQ(progress.stage(), Stage::operator_question);
    progress.set_operator_question(false);
    EXPECT_EQ(progress.stage(), Stage::writing);
}

TEST(FleetProgress, VerdictLineSamples) {
    const std::pair<std::string, std::string> samples[] = {
        {"Connecting...OK.\nFlash memory update successful.\n", "Flash memory update successful."},
        {"Flash memory is being erased...FAILED (no).\n",
         "Flash memory is being erased...FAILED (no)."},
        {"ERR.\nERROR: IP address conflict (2 target boards use the same\nIP address 1.2.3.4).\n",
         "ERROR: IP address conflict (2 target boards use the same IP address 1.2.3.4)."},
        {"timeout.\r\nTarget system not responding.\r\n", "Target system not responding."},
        {"Updating flash memory...tvflash: WARNING\nproceed? [Y/n] FAILED (no fit).\n",
         "FAILED (no fit)."},
        {"Talvium \x01 5\n\n", "Talvium \\x01 5"},
        {"", ""},
    };
    for (const auto& [output, verdict] : samples) {
        EXPECT_EQ(verdict_line(output), verdict) << output;
    }
    EXPECT_EQ(failure_text("Erasing...FAILED (no)."), "FAILED (no).");
    EXPECT_EQ(failure_text("Target system not responding."),
              "FAILED: Target system not responding.");
}

// Board text in one line of a terminal or a table: C0 and UTF-8 C1 controls and whatever breaks
// the line or its columns escaped everywhere; stray bytes 0x80-0x9F escaped where they are
// controls (POSIX) and kept where they are letters (Windows); UTF-8 letters kept whole.
TEST(FleetText, OneLineSamples) {
    const struct {
        std::string text;
        std::string on_posix;
        std::string on_windows;
    } samples[] = {
        {"a\tb\r\nc\x1b[2J", "a\\x09b\\x0d\\x0ac\\x1b[2J", "a\\x09b\\x0d\\x0ac\\x1b[2J"},
        {"\xC2\x9BK \xC2\x85", "\\xc2\\x9bK \\xc2\\x85", "\\xc2\\x9bK \\xc2\\x85"},
        {"\x9BK \x85", "\\x9bK \\x85", "\x9BK \x85"},
        {"\xC4\x85 \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\xA0",
         "\xC4\x85 \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\xA0",
         "\xC4\x85 \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\xA0"},
        // An overlong form, a surrogate and a cut character are no letters.
        {"\xE0\x80\x80 \xED\xA0\x80 \xE2\x82", "\xE0\\x80\\x80 \xED\xA0\\x80 \xE2\\x82",
         "\xE0\x80\x80 \xED\xA0\x80 \xE2\x82"},
    };
    for (const auto& s : samples) {
        EXPECT_EQ(one_line(s.text, StrayC1::control), s.on_posix) << s.text;
        EXPECT_EQ(one_line(s.text, StrayC1::letter), s.on_windows) << s.text;
    }
}

TEST(FleetRecord, FormatSamples) {
    EXPECT_EQ(csv_row({"a", "b,c", "say \"x\"", "", "two\nlines"}),
              "a,\"b,c\",\"say \"\"x\"\"\",,\"two\nlines\"\r\n");
    EXPECT_EQ(csv_row({"=1+2", "@x", "-1", "+1", "\tx", "=a,b", "a=b"}),
              "'=1+2,'@x,'-1,'+1,'\tx,\"'=a,b\",a=b\r\n");
    EXPECT_EQ(transcript_name("10.0.0.1:4000", 0), "10.0.0.1-4000.txt");
    EXPECT_EQ(transcript_name("10.0.0.1:4000", 3), "10.0.0.1-4000-3.txt");
    EXPECT_EQ(shell_line({"/bin/tvflash", "10.0.0.1", "my image.bin", "it's"}),
              "/bin/tvflash 10.0.0.1 'my image.bin' 'it'\\''s'");
    EXPECT_EQ(subprocess::windows_command_line(
                  {"C:\\tv flash.exe", "a\\b", "say \"hi\"", "", "end\\", "dir\\ x\\"}),
              "\"C:\\tv flash.exe\" a\\b \"say \\\"hi\\\"\" \"\" end\\ \"dir\\ x\\\\\"");
}

TEST(FleetView, AShortScreenShowsTheBusiestBoardsFirst) {
    std::vector<BoardLine> boards{
        {"10.0.0.1:4000", "step 1/1 version", "done", 3, Rank::done},
        {"10.0.0.2:4000", "step 1/1 version", "FAILED (x)", 2, Rank::failed},
        {"10.0.0.3:4000", "", "queued", -1, Rank::waiting},
        {"10.0.0.4:4000", "step 1/1 version", "probing", 75, Rank::running},
    };
    EXPECT_EQ(format_board_line(boards[3]),
              "10.0.0.4:4000         step 1/1 version          1:15    probing");
    EXPECT_EQ(format_view(boards, "totals", 80, 24).size(), 5u);
    EXPECT_EQ(
        format_view(boards, "totals", 30, 6),
        (std::vector<std::string>{"10.0.0.4:4000         step...", "10.0.0.2:4000         step...",
                                  "... and 2 more boards", "totals"}));
}

TEST(FleetStation, ABoardIsFlashedOnceUntilItHasBeenGoneLongEnough) {
    const Clock::time_point t0{};
    auto at = [&](double seconds) {
        return t0 +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    };
    StationTarget target(3, t0);
    EXPECT_TRUE(target.probe_due(t0));
    target.probed(t0);
    EXPECT_FALSE(target.probe_due(at(0.5)));
    target.answered(at(0.1));
    EXPECT_EQ(target.presence(), Presence::found);
    EXPECT_FALSE(target.probe_due(at(5)));
    target.started();
    target.finished(at(10));
    target.answered(at(12));  // it restarted after its update and answers again
    EXPECT_FALSE(target.check_gone(at(14.9)));
    EXPECT_EQ(target.next_due(), at(10));  // the next probe is due at once
    EXPECT_TRUE(target.check_gone(at(15)));
    EXPECT_EQ(target.presence(), Presence::waiting);
}
