// The pure parts of tvflash-fleet: targets and ranges, recipe steps, the command line, the
// progress read from the tool's output, the verdict, the record's formats, the live view and the
// station's decisions.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <numeric>
#include <thread>

#include <nlohmann/json.hpp>

#include "fleet_main.h"
#include "page/live_page.h"
#include "page/record_pages.h"
#include "page/web_files.h"
#include "plan/options.h"
#include "plan/recipe.h"
#include "plan/serve_address.h"
#include "plan/sha256.h"
#include "plan/targets.h"
#include "process/subprocess.h"
#include "report/live_view.h"
#include "report/record.h"
#include "report/record_row.h"
#include "run/board.h"
#include "run/error_class.h"
#include "run/presence.h"
#include "run/progress.h"
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
                "\xEF\xBB\xBF# line 1\n10.0.0.2:4000  # the second\r\n\n10.0.0.1:4000\nnonsense\n");
    add_targets(list, "@gone.txt", "target '@gone.txt'", std::nullopt);
    add_targets(list, "@none.txt", "target '@none.txt'", "\xEF\xBB\xBF# all out\n\n");
    ASSERT_EQ(list.targets.size(), 2u);
    EXPECT_EQ(list.targets[1].origin, "boards.txt line 2");
    EXPECT_EQ(list.errors,
              (std::vector<std::string>{
                  "boards.txt line 4: 10.0.0.1:4000 is given twice (first target '10.0.0.1:4000')",
                  "boards.txt line 5: 'nonsense' is not ADDRESS:PORT",
                  "target '@gone.txt': cannot read the target file 'gone.txt'",
                  "target '@none.txt': the target file 'none.txt' holds no target"}));
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
    std::vector<StepText> lines = recipe_lines(
        "\xEF\xBB\xBF"
        "erasesys\r\n\n  # note\ngetconfig",
        "r.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "erasesys");  // the byte-order mark left out
    EXPECT_EQ(lines[1].origin, "r.txt line 4");
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
        {{"flash", "r.txt"}, "unknown command 'flash' (run, check, scan, records or serve)"},
        {{"run", "r.txt"}, "no target given (ADDRESS:PORT or @FILE)"},
        {{"run", "-e"}, "-e needs a value"},
        {{"run", "-j", "0", "r.txt", "10.0.0.1:1"}, "-j takes a number of boards from 1 to 256"},
        {{"run", "--answer", "maybe", "r", "t"}, "--answer takes yes or no"},
        {{"run", "--gone", "5", "r", "t"}, "--gone goes with --watch"},
        {{"run", "--watch", "--gone", "1", "r", "t"}, "--gone takes seconds from 2 to 86400"},
        {{"run", "--fast", "r", "t"}, "unknown option '--fast'"},
        {{"scan", "-j", "2", "10.0.0.0/24", "4000"}, "scan takes ADDRESS/BITS PORT"},
        {{"run", "--serve", "0.0.0.0:8080", "r", "t"}, ""},
        {{"run", "--serve", "80800", "r", "t"},
         "--serve takes [ADDRESS:]PORT: '80800' is not a port from 0 to 65535"},
        {{"check", "--serve", "8080", "r"}, "--serve goes with run"},
        {{"serve", "--db", "r.db", "0.0.0.0:8080"}, ""},
        {{"serve", "--json", "8080"}, "serve takes [--db FILE] [ADDRESS:]PORT"},
        {{"serve", "--db", "none", "8080"}, "serve shows the record database: it needs --db"},
        {{"run", "--db", "none", "--share", "postgresql://h/d", "r", "t"},
         "--share copies the record database: it needs --db"},
        {{"run", "--share", "mysql://h/d", "r", "t"}, "--share takes a postgresql:// URL"},
        {{"run", "--since", "2h", "r", "t"}, "--since goes with records"},
        {{"records", "--db", "r.db", "--since", "7d", "--target", "10.0.0.1:1", "--format=csv"},
         ""},
        {{"records", "--push", "--share", "postgres://h/d"}, ""},
        {{"records", "--push"}, "records --push needs --share URL"},
        {{"records", "--push", "--share", "postgres://h/d", "--format", "csv"},
         "records --push takes --db and --share"},
        {{"records", "--share", "postgres://h/d"},
         "records takes --db, --since, --target and --format (or --push with --share)"},
        {{"records", "-j", "2"},
         "records takes --db, --since, --target and --format (or --push with --share)"},
        {{"records", "--format", "xml"}, "--format takes table, csv or json"},
        {{"records", "--target", "10.0.0.1"}, "'10.0.0.1' is not ADDRESS:PORT"},
        {{"records", "r.db"}, "records takes no argument 'r.db'"},
        {{"records", "--db", "none"}, "records reads the record database: it needs --db"},
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
    EXPECT_EQ(fit("ab\xc4\x85"
                  "cdefgh",
                  6),
              "ab...");  // not inside the letter
    // Lines drawn on a wider terminal, after it was made narrower.
    EXPECT_TRUE(still_fit({"1234", "", "123\xc3\xa9"}, 5));
    EXPECT_FALSE(still_fit({"1234", "12345"}, 5));
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
    EXPECT_EQ(target.answered(at(0.5)), 0.5);  // found: silent since watching began
    EXPECT_EQ(target.presence(), Presence::found);
    EXPECT_FALSE(target.probe_due(at(5)));
    target.started();
    target.finished(at(10));
    EXPECT_EQ(target.answered(at(12)), std::nullopt);  // it restarted and answers again
    EXPECT_FALSE(target.check_gone(at(14.9)));
    EXPECT_EQ(target.next_due(), at(10));  // the next probe is due at once
    EXPECT_EQ(target.check_gone(at(15)), 3.0);
    EXPECT_EQ(target.presence(), Presence::waiting);
    // A board that stays silent longer than the gone time is a new board when it answers.
    EXPECT_EQ(target.answered(at(20)), 8.0);
}

// Feeds a board its inputs and keeps the kinds of the events it gave, the tools it asked for and
// its last results.
struct BoardDriver {
    Board board;
    std::vector<EventKind> kinds;
    std::vector<std::vector<std::string>> starts;
    std::vector<StepResult> results;

    void take(BoardActions actions) {
        for (const Event& event : actions.events) {
            kinds.push_back(event.kind);
            if (event.kind == EventKind::board_finished) {
                results = event.results;
            }
        }
        if (actions.start) {
            starts.push_back(actions.start->argv);
            take(board.child_started(Clock::time_point{}, SystemTime{}));
        }
    }
    void ends(const std::string& output, int status, int signal = 0) {
        take(board.output(output, Clock::time_point{}));
        take(board.ended({status, signal, 1.5, 0.1}, Clock::time_point{}, SystemTime{}));
    }
};

TEST(FleetBoard, StepsGoOnAfterASuccessAndStopAtAFailureOrAnInterrupt) {
    Recipe recipe =
        check_steps({{"erasesys", "r 1"}, {"getconfig", "r 2"}, {"version", "r 3"}}, "");
    ASSERT_TRUE(recipe.errors.empty());
    const Target target{0x7f000002, 4000, ""};
    using K = EventKind;
    BoardDriver failing{Board(0, 1, target, recipe.steps, {"tv", false}), {}, {}, {}};
    failing.take(failing.board.start(Clock::time_point{}, SystemTime{}));
    failing.ends("Flash memory is being erased...OK.\n", 0);
    failing.ends("Connecting...FAILED (no answer).\n", 1);
    EXPECT_EQ(failing.starts,
              (std::vector<std::vector<std::string>>{{"tv", "127.0.0.2", "4000", "erasesys"},
                                                     {"tv", "127.0.0.2", "4000", "getconfig"}}));
    EXPECT_EQ(failing.kinds,
              (std::vector<K>{K::board_started, K::step_started, K::step_output, K::step_progress,
                              K::step_finished, K::step_started, K::step_output, K::step_progress,
                              K::step_finished, K::step_finished, K::board_finished}));
    ASSERT_EQ(failing.results.size(), 3u);
    EXPECT_EQ(failing.results[1].verdict, "Connecting...FAILED (no answer).");
    EXPECT_EQ(failing.results[1].how, "exit status 1 (failed)");
    EXPECT_EQ(failing.results[2].status, StepStatus::skipped);

    BoardDriver stopped{Board(0, 1, target, recipe.steps, {"tv", true}), {}, {}, {}};
    stopped.take(stopped.board.start(Clock::time_point{}, SystemTime{}));
    stopped.board.interrupt();
    stopped.ends("Flash memory is being erased...", -1, 15);
    EXPECT_EQ(stopped.starts.size(), 1u);
    EXPECT_EQ(stopped.results[0].status, StepStatus::interrupted);
    EXPECT_EQ(stopped.results[0].how, "ended by signal 15 (interrupted)");

    BoardDriver unstarted{Board(0, 1, target, recipe.steps, {"tv", false}), {}, {}, {}};
    BoardActions first = unstarted.board.start(Clock::time_point{}, SystemTime{});
    unstarted.take(unstarted.board.not_started("cannot start tv", Clock::time_point{}, {}));
    EXPECT_EQ(unstarted.results[0].verdict, "cannot start tv");
    EXPECT_FALSE(unstarted.results[0].started);
    EXPECT_TRUE(unstarted.board.finished());
}

TEST(FleetRun, ExitStatusSamples) {
    const struct {
        RunTotals totals;
        bool station;
        bool record_complete;
        int status;
    } samples[] = {
        {{3, 3, 0}, false, true, 0}, {{3, 3, 0}, false, false, 3}, {{3, 2, 1}, false, false, 1},
        {{3, 2, 0}, false, true, 1},  // a board that never started
        {{0, 0, 0}, true, true, 0},  {{5, 4, 1}, true, true, 1},   {{5, 5, 0}, true, false, 3},
    };
    for (const auto& s : samples) {
        EXPECT_EQ(exit_status(s.totals, s.station, s.record_complete), s.status)
            << s.totals.boards << " " << s.totals.passed << " " << s.station;
    }
}

TEST(FleetRecord, AFailedWriteIsReportedOnceAndMarksTheRecordIncomplete) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    std::vector<std::string> reports;
    RecordProblems problems([&](const std::string& line) { reports.push_back(line); });
    {
        RecordFile full(problems);
        ASSERT_TRUE(full.open("/dev/full", false));
        full.write(std::string(100000, 'x'));
        full.flush();
        RecordFile missing(problems);
        EXPECT_FALSE(missing.open("/no/such/folder/summary.csv", true));
    }
    EXPECT_TRUE(problems.any());
    EXPECT_EQ(reports, (std::vector<std::string>{"the record is incomplete: cannot write "
                                                 "'/dev/full': No space left on device"}));
}

TEST(FleetRecord, ErrorClassOfEveryFailureTheToolPrints) {
    const struct {
        std::string output;
        std::string error_class;
    } samples[] = {
        {"...FAILED (bootloader does not fit for the hardware).\n", "bootloader_mismatch"},
        {"File transfer consistency check...FAILED (checksum error).\n", "checksum"},
        {"FAILED (block 7 is all zeros and may have been stored twice; the checksum cannot "
         "tell).\n",
         "unprovable"},
        {"FAILED (9 acknowledgements for 8 blocks; a block stored twice cannot be ruled out).\n",
         "unprovable"},
        {"ERR.\nERROR: IP address conflict (2 target boards use the same\nIP address 1.2.3.4).\n",
         "address_conflict"},
        {"Uploading....*timeout.\nTarget system not responding.\n", "no_answer"},
        {"Connecting...FAILED (connection reset by remote host).\n", "no_answer"},
        {"Connecting...FAILED (socket can not be connected).\n", "link"},
        {"Uploading...FAILED (error 10055).\n", "link"},
        {"FAILED (existing flash file system will be destroyed if this operation proceeds).\n",
         "refused"},
        {"FAILED (existing system file will be destroyed if this operation proceeds).\n",
         "refused"},
        {"FAILED (flash file system not found inside flash memory).\n", "refused"},
        {"FAILED (not enough free space left, 1024 bytes available).\n", "refused"},
        {"FAILED (reserve system not found inside flash memory).\n", "refused"},
        {"FAILED (size of image file too large).\n", "refused"},
        {"FAILED (suitable for erasure data not found inside System Area).\n", "refused"},
        {"ERR.\nERROR: unsuccessful erase of flash memory (code 3).\n", "refused"},
        {"ERR.\nERROR during flash memory update (code 5).\n", "refused"},
        {"\nERROR: cannot open input file 'x.bin'.\n", "image"},
        {"\nERROR: cannot read input file 'x.bin'.\n", "image"},
        {"\nERROR: input file 'e.hex' does not have the expected length of 64K.\n", "image"},
        {"\nERROR: input file 'e.hex' has an invalid format.\n", "image"},
        {"\nERROR: invalid number of arguments\n", "tool"},
        {"\nERROR: unknown <command> parameter 'x'\n", "tool"},
        {"the board said something new\n", "other"},
        // The last failure line counts: a checksum error after a resent block's refusal.
        {"FAILED (error 5).\nFAILED (checksum error).\n", "checksum"},
    };
    StepResult failed;
    failed.status = StepStatus::failed;
    failed.started = true;
    failed.exit_status = 1;
    for (const auto& s : samples) {
        EXPECT_EQ(error_class(failed, s.output), s.error_class) << s.output;
    }
    StepResult ended = failed;
    ended.signal = 9;
    EXPECT_EQ(error_class(ended, "FAILED (checksum error)."), "tool");
    ended = failed;
    ended.status = StepStatus::interrupted;
    EXPECT_EQ(error_class(ended, ""), "interrupted");
    ended.status = StepStatus::passed;
    EXPECT_EQ(error_class(ended, ""), "");
    EXPECT_TRUE(can_retry("no_answer") && can_retry("link") && can_retry("checksum") &&
                can_retry("unprovable"));
    EXPECT_FALSE(can_retry("refused") || can_retry("bootloader_mismatch") ||
                 can_retry("address_conflict") || can_retry("image") || can_retry("interrupted") ||
                 can_retry("tool") || can_retry("other"));
}

TEST(FleetRecord, DigestsTimesAndTheToolsVersion) {
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(format_utc(SystemTime{} + std::chrono::milliseconds(1765289000123)),
              "2025-12-09T14:03:20.123Z");
    EXPECT_EQ(tool_version_from_banner("Talvium flashing tool, version 2.4.0\nUsage: ..."),
              "2.4.0");
    EXPECT_EQ(tool_version_from_banner("something else\n"), "");
    std::string id = new_run_id();
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(id[14], '4');
    EXPECT_NE(id, new_run_id());
}

TEST(FleetPage, ServeAddressSamples) {
    const struct {
        std::string text;
        std::string url;  // or the error
    } samples[] = {
        {"8080", "http://127.0.0.1:8080/"},
        {"0", "http://127.0.0.1:0/"},
        {"0.0.0.0:80", "http://station-7:80/"},
        {"10.1.2.3:65535", "http://10.1.2.3:65535/"},
        {"localhost:80", "'localhost' is not an IPv4 address"},
        {":80", "'' is not an IPv4 address"},
        {"127.0.0.1:", "'' is not a port from 0 to 65535"},
        {"65536", "'65536' is not a port from 0 to 65535"},
    };
    for (const auto& s : samples) {
        ParsedServeAddress parsed = parse_serve_address(s.text);
        EXPECT_EQ(parsed.serve ? page_url(*parsed.serve, "station-7") : parsed.error, s.url);
    }
    // The page's files are the program's own; no other name gives one.
    EXPECT_NE(web_file("index.html"), nullptr);
    EXPECT_EQ(content_type("live.js"), "text/javascript; charset=utf-8");
    EXPECT_EQ(web_file("../index.html"), nullptr);
}

namespace {

// A plan of two steps on two targets, and events for it at whole seconds.
struct PageRun {
    Plan plan;
    RunContext context{"run-1", "line-3", "ada", "2.3.6", {}};

    PageRun() {
        plan.steps = check_steps({{"erasesys", "r 1"}, {"getconfig", "r 2"}}, "").steps;
        plan.targets = {{0x7f000002, 4000, ""}, {0x7f000003, 4000, ""}};
    }
    static Event event(EventKind kind, std::size_t slot, int second) {
        Event event;
        event.kind = kind;
        event.slot = slot;
        event.at = Clock::time_point{} + std::chrono::seconds(second);
        event.board = 1;
        return event;
    }
};

}  // namespace

TEST(FleetPage, TargetStatesAndTheTimeInThem) {
    using K = EventKind;
    auto step = [](K kind, int second, Stage stage = Stage::starting) {
        Event e = PageRun::event(kind, 0, second);
        e.stage = stage;
        return e;
    };
    auto ended = [](int second, StepStatus status) {
        Event e = PageRun::event(K::step_finished, 0, second);
        e.result.status = status;
        return e;
    };
    auto finished = [](int second, bool started, StepStatus status) {
        Event e = PageRun::event(K::board_finished, 0, second);
        e.board_started = started;
        e.results.resize(2);
        e.results[0].status = status;
        e.results[1].status = status == StepStatus::passed ? status : StepStatus::skipped;
        return e;
    };
    const struct {
        bool station;
        std::vector<Event> events;
        std::string state;
        int since;
    } samples[] = {
        {false, {}, "queued", 1},
        {false, {step(K::board_started, 2), step(K::step_started, 3)}, "running", 2},
        {false,
         {step(K::board_started, 2), step(K::step_progress, 4, Stage::operator_question)},
         "question",
         4},
        {false, {step(K::board_started, 2), finished(5, true, StepStatus::failed)}, "failed", 5},
        {false,
         {step(K::board_started, 2), ended(5, StepStatus::interrupted),
          finished(5, true, StepStatus::interrupted)},
         "interrupted",
         5},
        {false, {finished(6, false, StepStatus::skipped)}, "skipped", 6},
        {true, {}, "waiting", 1},
        {true, {step(K::board_found, 3)}, "queued", 3},
        {true, {step(K::board_started, 3), finished(7, true, StepStatus::passed)}, "passed", 7},
        {true,
         {step(K::board_started, 3), finished(7, true, StepStatus::passed), step(K::board_left, 9)},
         "waiting",
         9},
    };
    PageRun run;
    for (const auto& s : samples) {
        BoardViews views(run.plan, s.station);
        views.on_event(PageRun::event(K::run_started, 0, 1));
        for (const Event& event : s.events) {
            views.on_event(event);
        }
        const SlotView& view = views.slots()[0];
        EXPECT_EQ(view.state, s.state) << s.events.size();
        EXPECT_EQ(view.since, PageRun::event(K::run_started, 0, s.since).at) << s.state;
        EXPECT_STREQ(views.slots()[1].state, s.station ? "waiting" : "queued");
    }
}

TEST(FleetPage, AStreamStartsWithASnapshotAndAClientThatFallsBehindIsDropped) {
    PageRun run;
    LivePage page(run.plan, run.context, RunShape{}, PageLimits{2, 3, 1 << 20});
    std::string first;
    std::shared_ptr<PageClient> reader = page.attach(first);
    std::shared_ptr<PageClient> idle = page.attach(first);
    std::string refused;
    EXPECT_EQ(page.attach(refused), nullptr);  // two clients at most
    const std::string head = "retry: 1000\nevent: snapshot\nid: 0\ndata: ";
    ASSERT_EQ(first.substr(0, head.size()), head);
    nlohmann::json snapshot = nlohmann::json::parse(first.substr(head.size()));
    EXPECT_EQ(snapshot["run"], "run-1");
    EXPECT_EQ(snapshot["targets"][1]["target"], "127.0.0.3:4000");
    EXPECT_EQ(snapshot["targets"][1]["state"], "queued");

    std::string out;
    for (EventKind kind : {EventKind::run_started, EventKind::board_started,
                           EventKind::step_started, EventKind::step_started}) {
        page.on_event(PageRun::event(kind, 0, 1));
        ASSERT_TRUE(page.next(*reader, std::chrono::milliseconds(0), out));
        EXPECT_EQ(out.substr(0, out.find("data: ")),
                  "id: " + nlohmann::json::parse(page.state_text())["event"].dump() + "\n");
    }
    EXPECT_EQ(nlohmann::json::parse(out.substr(out.find("data: ") + 6))["event"], "step_started");
    EXPECT_EQ(nlohmann::json::parse(page.state_text())["targets"][0]["state"], "running");
    // The idle client missed four messages, one more than its queue holds: it is dropped and
    // the slot is free for a new one.
    EXPECT_FALSE(page.next(*idle, std::chrono::milliseconds(0), out));
    page.detach(idle);
    EXPECT_NE(page.attach(refused), nullptr);
    // Once the run is over, a stream ends after its last message.
    page.on_event(PageRun::event(EventKind::run_finished, 0, 2));
    page.close();
    EXPECT_TRUE(page.next(*reader, std::chrono::milliseconds(0), out));
    EXPECT_NE(out.find("\"event\":\"run_finished\""), std::string::npos);
    EXPECT_FALSE(page.next(*reader, std::chrono::milliseconds(0), out));
}

TEST(FleetPage, RecordsQuerySamples) {
    const struct {
        std::map<std::string, std::string> parameters;
        std::string query;  // "after limit newest target status", or the error
    } samples[] = {
        {{}, "0 200 newest  "},
        {{{"since", "120"}}, "120 500 oldest  "},
        {{{"since", "0"}, {"limit", "20"}, {"status", "failed"}}, "0 20 oldest  failed"},
        {{{"latest", "5"}, {"target", "10.0.0.1:4000"}}, "0 5 newest 10.0.0.1:4000 "},
        {{{"since", "-1"}}, "since takes a row id"},
        {{{"latest", "0"}}, "latest takes a number of rows from 1 to 5000"},
        {{{"since", "1"}, {"latest", "5"}}, "since and latest do not go together"},
        {{{"status", "done"}}, "status takes passed, failed, skipped or interrupted"},
        {{{"target", "x"}}, "target takes ADDRESS:PORT"},
        {{{"order", "up"}}, "unknown parameter 'order'"},
    };
    for (const auto& s : samples) {
        ParsedRecordsQuery parsed = parse_records_query(s.parameters);
        const RowQuery* q = parsed.query ? &parsed.query->rows : nullptr;
        EXPECT_EQ(q ? std::to_string(q->after_id) + " " + std::to_string(q->limit) + " " +
                          (q->newest_first ? "newest " : "oldest ") + q->target + " " + q->status
                    : parsed.error,
                  s.query);
    }
    StoredRow stored{7, RecordRow{}, "", false};
    stored.row.target = "10.0.0.1:4000";
    stored.row.verdict = "=HYPERLINK(\"x\")";
    stored.row.seconds = 1.5;
    RecordsQuery paged{{}, true};
    paged.rows.limit = 1;
    EXPECT_EQ(records_csv({stored}),
              "id,station,target,attempt,step,command,try,status,error_class,verdict,start,"
              "seconds\r\n7,,10.0.0.1:4000,1,1,,1,,,\"'=HYPERLINK(\"\"x\"\")\",,1.500\r\n");
    const nlohmann::json page = nlohmann::json::parse(records_json({stored}, paged, 3));
    EXPECT_EQ(page["next"], 7);
    EXPECT_EQ(page["more"], true);
    EXPECT_EQ(page["rows"][0]["id"], 7);
    EXPECT_FALSE(page["rows"][0].contains("transcript"));
}

TEST(FleetPage, ReadersOnThreadsOfTheirOwnGetEveryEventInOrder) {
    PageRun run;
    LivePage page(run.plan, run.context, RunShape{}, PageLimits{4, 100000, 1 << 26});
    constexpr int kEvents = 400;
    std::vector<std::thread> readers;
    std::vector<std::vector<int>> ids(3);
    std::atomic<int> attached{0};
    for (std::vector<int>& seen : ids) {
        readers.emplace_back([&page, &seen, &attached] {
            std::string text;
            std::shared_ptr<PageClient> client = page.attach(text);
            ++attached;
            for (int reads = 0;
                 reads < 10000 && page.next(*client, std::chrono::milliseconds(5), text); ++reads) {
                for (std::size_t at = text.find("id: "); at != std::string::npos;
                     at = text.find("id: ", at + 1)) {
                    seen.push_back(std::stoi(text.substr(at + 4)));
                }
            }
            page.detach(client);
        });
    }
    for (int waits = 0; waits < 1000 && attached < 3; ++waits) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    page.on_event(PageRun::event(EventKind::run_started, 0, 1));
    for (int i = 0; i < kEvents; ++i) {
        page.on_event(PageRun::event(i % 2 ? EventKind::step_started : EventKind::board_started,
                                     static_cast<std::size_t>(i % 2), 1));
    }
    page.on_event(PageRun::event(EventKind::run_finished, 0, 2));
    page.close();
    for (std::thread& reader : readers) {
        reader.join();
    }
    std::vector<int> all(kEvents + 2);
    std::iota(all.begin(), all.end(), 1);
    for (const std::vector<int>& seen : ids) {
        EXPECT_EQ(seen, all);
    }
    EXPECT_EQ(page.clients(), 0u);
}
