// The station page in a real browser (Debian's chromium, headless): tiles that follow a station's
// boards, board text that stays text, and a page that follows the next run on its port. The
// fleet is the one beside the tool under test, so these run against the Windows build too.
#include <gtest/gtest.h>
#include <signal.h>

#include <httplib.h>

#include <algorithm>

#include "browser.h"
#include "e2e/tool.h"
#include "e2e/upload_board.h"
#include "sim/sim_process.h"

using namespace std::chrono_literals;
using pagetest::Browser;
using simtest::SimProcess;

namespace {

std::unique_ptr<e2e::ChildProcess> start_fleet(const std::vector<std::string>& args) {
    e2e::ToolCommand fleet = e2e::fleet_command(args);
    return std::make_unique<e2e::ChildProcess>(fleet.program, fleet.args);
}

// Wine ends a Windows program at SIGTERM, but passes SIGINT on to it as Ctrl-C.
int stop_signal() {
    return e2e::windows_build() ? SIGINT : SIGTERM;
}

// The page's address as the fleet printed it at its start ("http://127.0.0.1:PORT/"); empty
// when it printed none.
std::string page_url(e2e::ChildProcess& fleet) {
    const std::string out = fleet.read_until("/\n", 30s);
    const std::size_t at = out.find("Page: ");
    return at == std::string::npos ? "" : out.substr(at + 6, out.find('/', at + 15) - at - 5);
}

// Installs an observer that keeps, per target, every state its tile went through.
const char* const kKeepStates = R"(
    window.seen = {};
    for (const tile of document.querySelectorAll('[data-target]')) {
        window.seen[tile.dataset.target] = [tile.dataset.state];
    }
    new MutationObserver((changes) => {
        for (const change of changes) {
            const target = change.target.dataset.target;
            const states = window.seen[target] || (window.seen[target] = []);
            if (states[states.length - 1] !== change.target.dataset.state) {
                states.push(change.target.dataset.state);
            }
        }
    }).observe(document.getElementById('tiles'),
               {subtree: true, attributes: true, attributeFilter: ['data-state']});
    true
)";

// The text of a part of a target's tile.
std::string tile_text(Browser& browser, const std::string& target, const std::string& part) {
    nlohmann::json text = browser.evaluate("document.querySelector('[data-target=\"" + target +
                                           "\"] ." + part + "').textContent");
    return text.is_string() ? text.get<std::string>() : "";
}

}  // namespace

TEST(FleetPage, TilesFollowAStationsBoardsAndBoardTextStaysText) {
    e2e::ImageFolder folder;
    const std::uint16_t port = SimProcess({"--bind", "127.0.0.102"}).port();
    const std::string a = "127.0.0.102:" + std::to_string(port);
    const std::string b = "127.0.0.103:" + std::to_string(port);
    const std::string c = "127.0.0.104:" + std::to_string(port);
    auto fleet = start_fleet({"run", "--watch", "--gone", "60", "--serve", "127.0.0.1:0", "--db",
                              (folder.path() / "records.db").string(), "--logs",
                              (folder.path() / "logs").string(), "-e", "erasesys", a, b, c});
    const std::string url = page_url(*fleet);
    ASSERT_FALSE(url.empty()) << fleet->read_for(0ms);
    Browser browser;
    ASSERT_TRUE(browser.started()) << browser.error();
    browser.open(url);
    ASSERT_TRUE(
        browser.wait_for("document.querySelectorAll('[data-state=waiting]').length === 3", 30s));
    ASSERT_EQ(browser.evaluate(kKeepStates), true);

    // A board with a slow erase, one whose version text is markup, and two on one address.
    const std::string hostile =
        "<script>window.pwned=1</script><img src=x onerror=\"window.pwned=2\"> 'q' &amp;";
    SimProcess slow({"--bind", "127.0.0.102", "--slow-erase", "2"}, port);
    SimProcess marked({"--bind", "127.0.0.103", "--version-text", hostile}, port);
    SimProcess refusing({"--bind", "127.0.0.104", "--boards", "2"}, port);
    EXPECT_TRUE(
        browser.wait_for("document.querySelectorAll('[data-state=passed]').length === 2 "
                         "&& document.querySelectorAll('[data-state=failed]').length === 1",
                         60s))
        << fleet->read_for(0ms);
    nlohmann::json seen = browser.evaluate("window.seen");
    for (const std::string& t : {a, c}) {
        std::vector<std::string> states;
        for (const nlohmann::json& state : seen[t]) {
            if (state != "queued") {  // a board found and started at once may show it or not
                states.push_back(state);
            }
        }
        EXPECT_EQ(states,
                  (std::vector<std::string>{"waiting", "running", t == a ? "passed" : "failed"}))
            << seen.dump();
    }
    EXPECT_EQ(tile_text(browser, c, "reason"),
              "ERROR: IP address conflict (2 target boards use the same IP address 127.0.0.104).");
    EXPECT_EQ(tile_text(browser, a, "counts"), "1 passed · 0 failed");
    // The board's text is there as text, and nothing was made of it.
    EXPECT_EQ(tile_text(browser, b, "version"), hostile);
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('script').length"), 1);
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('img').length"), 0);
    EXPECT_EQ(browser.evaluate("typeof window.pwned"), "undefined");
    e2e::RunResult run = fleet->finish(20s, stop_signal());
    EXPECT_EQ(run.status, 1) << run.err;
}

TEST(FleetPage, APageFollowsTheNextRunOnItsPort) {
    e2e::ImageFolder folder;
    SimProcess first_board({"--bind", "127.0.0.105"});
    SimProcess second_board({"--bind", "127.0.0.106"});
    const std::string first_target = "127.0.0.105:" + first_board.port_text();
    const std::string second_target = "127.0.0.106:" + second_board.port_text();
    const std::string db = (folder.path() / "records.db").string();
    auto first = start_fleet({"run", "--watch", "--serve", "127.0.0.1:0", "--db", db, "--logs",
                              (folder.path() / "first").string(), "-e", "version", first_target});
    const std::string url = page_url(*first);
    ASSERT_FALSE(url.empty()) << first->read_for(0ms);
    Browser browser;
    ASSERT_TRUE(browser.started()) << browser.error();
    browser.open(url);
    const std::string first_passed = "document.querySelector('[data-target=\"" + first_target +
                                     "\"]')?.dataset.state === 'passed'";
    ASSERT_TRUE(browser.wait_for(first_passed, 30s));
    first->finish(20s, stop_signal());
    EXPECT_TRUE(browser.wait_for("document.getElementById('link').dataset.link === 'lost'", 10s));

    // The next run on the same port: the page finds it by itself and draws its targets.
    const std::string port = url.substr(url.rfind(':') + 1, url.size() - url.rfind(':') - 2);
    auto second = start_fleet({"run", "--watch", "--serve", port, "--db", db, "--logs",
                               (folder.path() / "second").string(), "-e", "version", second_target,
                               first_target});
    EXPECT_TRUE(
        browser.wait_for("document.querySelectorAll('[data-target]').length === 2 && "
                         "document.querySelector('[data-target=\"" +
                             second_target + "\"]')?.dataset.state === 'passed'",
                         60s))
        << second->read_for(0ms);
    EXPECT_EQ(browser.evaluate("document.getElementById('link').dataset.link"), "live");
    second->finish(20s, stop_signal());
}

TEST(FleetPage, TheRecordsPageShowsTheRowsWithTheirTranscriptsAndCsv) {
    e2e::ImageFolder folder;
    const std::string hostile = "<img src=x onerror=\"window.pwned=1\">";
    SimProcess marked({"--bind", "127.0.0.108", "--version-text", hostile});
    SimProcess twins({"--bind", "127.0.0.109", "--boards", "2"});
    const std::string db = (folder.path() / "records.db").string();
    const std::string a = "127.0.0.108:" + marked.port_text();
    const std::string b = "127.0.0.109:" + twins.port_text();
    e2e::ToolCommand run = e2e::fleet_command(
        {"run", "--db", db, "--logs", (folder.path() / "logs").string(), "-e", "version", a, b});
    ASSERT_EQ(e2e::run_process(run.program, run.args, "", 60s).status, 1);
    auto server = start_fleet({"serve", "--db", db, "127.0.0.1:0"});
    const std::string url = page_url(*server);
    ASSERT_FALSE(url.empty()) << server->read_for(0ms);
    Browser browser;
    ASSERT_TRUE(browser.started()) << browser.error();
    browser.open(url);  // the root of a server without a run leads to the records
    ASSERT_TRUE(browser.wait_for("document.querySelectorAll('#rows tr').length === 2", 30s));
    const nlohmann::json rows = browser.evaluate(
        "[...document.querySelectorAll('#rows tr')].map((row) => [row.dataset.id, "
        "...[...row.cells].map((cell) => cell.textContent)])");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_GT(std::stoi(rows[0][0].get<std::string>()), std::stoi(rows[1][0].get<std::string>()));
    EXPECT_EQ(browser.evaluate("document.querySelectorAll('img').length"), 0);
    EXPECT_EQ(browser.evaluate("typeof window.pwned"), "undefined");

    // The failed row alone, its CSV as shown, and its transcript behind the target's link.
    browser.open(url + "records?status=failed");
    ASSERT_TRUE(browser.wait_for("document.querySelectorAll('#rows tr').length === 1", 30s));
    const nlohmann::json failed = browser.evaluate(
        "[...document.querySelector('#rows tr').cells].map((cell) => cell.textContent)");
    EXPECT_EQ(failed[1], b);
    EXPECT_EQ(failed[4], "failed");
    EXPECT_EQ(failed[5], "address_conflict");
    httplib::Client client("127.0.0.1", std::stoi(url.substr(url.rfind(':') + 1)));
    const std::string csv_path = browser.evaluate(
        "document.getElementById('csv').pathname + "
        "document.getElementById('csv').search");
    httplib::Result csv = client.Get(csv_path);
    ASSERT_TRUE(csv);
    const std::string header = "id,station,target,attempt,step,command,try,status,error_class,";
    EXPECT_EQ(csv->body.substr(0, header.size()), header);
    EXPECT_NE(csv->body.find("," + b + ",1,1,version,1,failed,address_conflict,"),
              std::string::npos)
        << csv->body;
    EXPECT_EQ(std::count(csv->body.begin(), csv->body.end(), '\n'), 2);
    httplib::Result transcript = client.Get(
        browser.evaluate("document.querySelector('#rows a').pathname").get<std::string>());
    ASSERT_TRUE(transcript);
    EXPECT_EQ(transcript->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_NE(transcript->body.find("ERROR: IP address conflict"), std::string::npos)
        << transcript->body;
    EXPECT_EQ(server->finish(20s, stop_signal()).status, 0);
}
