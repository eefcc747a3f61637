// run --watch: a station. Each target is probed about once a second until a board answers there;
// the board goes through the recipe once; then the target waits until the address has stayed
// silent for the gone time before it waits for the next board. The first interrupt finishes the
// runs in progress, the second ends them.
#include <cstdio>

#include "os/net.h"
#include "runs.h"
#include "scan.h"
#include "session.h"
#include "run/presence.h"
#include "text.h"

namespace fleet {
namespace {

// Answers to a probe come within milliseconds on a local network; they are read this long after
// it rather than at the next probe.
constexpr std::chrono::milliseconds kAnswerWait{100};

struct Slot {
    Target target;
    StationTarget station;
    std::unique_ptr<BoardRun> board;  // the board running now, or the last one
    int boards_seen = 0;
    bool recorded = true;  // the rows of the last board are in the summary
};

struct Tally {
    int passed = 0;
    int failed = 0;
};

class Station {
  public:
    Station(const Options& options, const Plan& plan, Record& record)
        : plan_(plan), session_(options, plan, record) {
        for (const Target& target : plan.targets) {
            slots_.push_back(
                {target, StationTarget(options.gone_seconds, Clock::now()), nullptr, 0, true});
        }
    }

    int run(net::UdpSocket& socket);

  private:
    void probe(net::UdpSocket& socket, Clock::time_point now);
    void take_answers(net::UdpSocket& socket, Clock::time_point now);
    void start_found();
    void end_finished(Clock::time_point now);
    void on_interrupts(int count);
    std::optional<Clock::time_point> next_due() const;
    std::vector<BoardRun*> running() const;
    std::vector<BoardLine> lines() const;
    std::string totals() const;

    const Plan& plan_;
    Session session_;
    std::vector<Slot> slots_;
    Tally tally_;
    bool stopping_ = false;
    Clock::time_point last_probe_{};
    const Clock::time_point start_ = Clock::now();
};

void Station::probe(net::UdpSocket& socket, Clock::time_point now) {
    for (Slot& slot : slots_) {
        if (!slot.station.probe_due(now)) {
            continue;
        }
        std::string error;
        // A probe that cannot go out now is tried again at the next one.
        socket.send_to(slot.target.address, slot.target.port, "<VERSION>", error);
        slot.station.probed(now);
        last_probe_ = now;
    }
}

void Station::take_answers(net::UdpSocket& socket, Clock::time_point now) {
    while (std::optional<net::Datagram> datagram = socket.receive(std::chrono::milliseconds(0))) {
        if (!version_text(datagram->bytes)) {
            continue;
        }
        for (Slot& slot : slots_) {
            if (slot.target.address != datagram->address || slot.target.port != datagram->port) {
                continue;
            }
            bool waiting = slot.station.presence() == Presence::waiting;
            slot.station.answered(now);
            if (waiting && !stopping_) {
                session_.events().note(slot.target.text(), "", "board found");
            }
        }
    }
}

void Station::start_found() {
    for (Slot& slot : slots_) {
        if (slot.station.presence() != Presence::found ||
            running().size() >= static_cast<std::size_t>(session_.jobs())) {
            continue;
        }
        std::string name = transcript_name(slot.target.text(), ++slot.boards_seen);
        slot.board = std::make_unique<BoardRun>(slot.target, plan_.steps,
                                                session_.record().new_transcript_path(name));
        slot.recorded = false;
        slot.station.started();
        slot.board->start(session_.set(), session_.settings(), session_.events());
    }
}

void Station::end_finished(Clock::time_point now) {
    for (Slot& slot : slots_) {
        if (slot.recorded || !slot.board->finished()) {
            continue;
        }
        session_.record().add_rows(slot.board->summary_rows());
        ++(slot.board->passed() ? tally_.passed : tally_.failed);
        slot.recorded = true;
        slot.station.finished(now);
    }
    for (Slot& slot : slots_) {
        if (slot.station.check_gone(now)) {
            session_.events().note(slot.target.text(), "", "board left");
        }
    }
}

std::optional<Clock::time_point> Station::next_due() const {
    if (stopping_) {
        return std::nullopt;
    }
    std::optional<Clock::time_point> due;
    for (const Slot& slot : slots_) {
        Clock::time_point next = slot.station.next_due();
        if (next != Clock::time_point::max() && (!due || next < *due)) {
            due = next;
        }
    }
    Clock::time_point answers = last_probe_ + kAnswerWait;
    if (answers > Clock::now() && (!due || answers < *due)) {
        due = answers;
    }
    return due;
}

std::vector<BoardRun*> Station::running() const {
    std::vector<BoardRun*> boards;
    for (const Slot& slot : slots_) {
        if (slot.board && slot.board->running()) {
            boards.push_back(slot.board.get());
        }
    }
    return boards;
}

std::vector<BoardLine> Station::lines() const {
    std::vector<BoardLine> lines;
    const Clock::time_point now = Clock::now();
    for (const Slot& slot : slots_) {
        BoardLine line{slot.target.text(), "", "waiting for a board", -1, Rank::waiting};
        Presence presence = slot.station.presence();
        if (presence == Presence::found) {
            line.status = "board found, waiting for its turn";
        } else if (presence == Presence::running || presence == Presence::leaving) {
            line = slot.board->view_line(now);
        }
        if (presence == Presence::leaving) {
            line.status += "; waiting for it to leave";
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Station::totals() const {
    std::string state =
        stopping_ ? "stopping: finishing the runs in progress (Ctrl-C ends them)" : "Ctrl-C stops";
    return "station: " + std::to_string(tally_.passed) + " passed, " +
           std::to_string(tally_.failed) + " failed, " + std::to_string(running().size()) +
           " running    " +
           format_elapsed(std::chrono::duration<double>(Clock::now() - start_).count()) + "    " +
           state;
}

void Station::on_interrupts(int count) {
    if (!stopping_) {
        stopping_ = true;
        --count;
        session_.printer().print_line(
            "Stopping: the runs in progress finish; Ctrl-C again ends them.");
    }
    if (count > 0) {
        session_.end_children(running());
    }
}

int Station::run(net::UdpSocket& socket) {
    session_.printer().print_line("Watching " + std::to_string(slots_.size()) +
                                  " targets for boards; Ctrl-C stops.");
    for (;;) {
        Clock::time_point now = Clock::now();
        if (!stopping_) {
            probe(socket, now);
        }
        take_answers(socket, now);
        end_finished(now);
        if (!stopping_) {
            start_found();
        }
        session_.show([this] { return lines(); }, totals());
        std::vector<BoardRun*> boards = running();
        if (stopping_ && boards.empty()) {
            break;
        }
        session_.wait(next_due(), boards);
        if (int count = session_.take_interrupts(); count > 0) {
            on_interrupts(count);
        }
    }
    end_finished(Clock::now());
    session_.show([this] { return lines(); }, totals(), true);
    session_.printer().finish();
    std::printf("\nBoards passed: %d, boards failed: %d.\nRecord: %s\n", tally_.passed,
                tally_.failed, session_.record().dir().c_str());
    return tally_.failed > 0 ? 1 : 0;
}

}  // namespace

int run_station(const Options& options, const Plan& plan, Record& record) {
    net::UdpSocket socket;
    std::string error;
    if (!socket.open(error)) {
        std::fprintf(stderr, "tvflash-fleet: %s\n", error.c_str());
        return 1;
    }
    Station station(options, plan, record);
    return station.run(socket);
}

}  // namespace fleet
