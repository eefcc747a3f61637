// The live part of the station page: a consumer of the board events on the scheduler's thread,
// and what the page's server threads read of it (the snapshot, and each event stream's queue).
// Everything the two sides share is behind one mutex; the scheduler's side never waits for a
// client: a client whose queue is full is dropped (its browser reconnects and starts again from a
// snapshot).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "page/page_state.h"

namespace fleet {

struct PageLimits {
    std::size_t clients = 40;                   // event streams at once
    std::size_t queue_messages = 4096;          // messages a client may have waiting
    std::size_t queue_bytes = 8 * 1024 * 1024;  // bytes a client may have waiting
};

// One reader of the event stream: the messages not yet sent to it.
class PageClient {
  private:
    friend class LivePage;
    std::deque<std::shared_ptr<const std::string>> queue_;
    std::size_t bytes_ = 0;
    bool dropped_ = false;
};

class LivePage : public EventSink {
  public:
    LivePage(const Plan& plan, const RunContext& context, const RunShape& shape,
             PageLimits limits = {});

    // The scheduler's thread: the event, encoded as --json encodes it, to every client.
    void on_event(const Event& event) override;
    // The run is over and its last event given: the streams end once they have sent it.
    void close();

    // The server's threads. The snapshot now, as JSON text.
    std::string state_text();
    // A new reader of the stream, and its first message (the snapshot); none when as many
    // clients as the limits allow are reading already.
    std::shared_ptr<PageClient> attach(std::string& first);
    // The client's next messages, waiting up to timeout for some (none: out is left empty).
    // False when the stream is to end: the client fell behind, or the run is over and every
    // message was taken.
    bool next(PageClient& client, std::chrono::milliseconds timeout, std::string& out);
    void detach(const std::shared_ptr<PageClient>& client);
    std::size_t clients() const;

  private:
    std::string snapshot_locked(Clock::time_point now) const;
    void publish_locked(std::shared_ptr<const std::string> message);

    const Plan& plan_;
    const RunContext& context_;
    RunShape shape_;
    PageLimits limits_;
    EventEncoder encoder_;  // the scheduler's thread only

    mutable std::mutex mutex_;
    std::condition_variable news_;
    BoardViews views_;
    RunEnd end_;
    std::uint64_t last_event_ = 0;
    bool closed_ = false;
    std::vector<std::shared_ptr<PageClient>> clients_;
};

}  // namespace fleet
