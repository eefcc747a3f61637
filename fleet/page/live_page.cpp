#include "page/live_page.h"

#include <algorithm>

namespace fleet {
namespace {

// A browser that lost the stream tries again after this many milliseconds.
constexpr int kReconnectMs = 1000;

}  // namespace

LivePage::LivePage(const Plan& plan, const RunContext& context, const RunShape& shape,
                   PageLimits limits)
    : plan_(plan),
      context_(context),
      shape_(shape),
      limits_(limits),
      encoder_(plan, context, shape),
      views_(plan, shape.station) {}

void LivePage::on_event(const Event& event) {
    std::vector<std::string> texts;
    for (const nlohmann::ordered_json& object : encoder_.encode(event)) {
        texts.push_back(json_text(object));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    views_.on_event(event);
    if (event.kind == EventKind::run_finished) {
        end_ = {true, event.exit_status};
    }
    for (const std::string& text : texts) {
        publish_locked(std::make_shared<const std::string>(sse_message("", ++last_event_, text)));
    }
    if (!texts.empty()) {
        news_.notify_all();
    }
}

void LivePage::publish_locked(std::shared_ptr<const std::string> message) {
    for (const std::shared_ptr<PageClient>& client : clients_) {
        if (client->dropped_) {
            continue;
        }
        client->queue_.push_back(message);
        client->bytes_ += message->size();
        if (client->queue_.size() > limits_.queue_messages ||
            client->bytes_ > limits_.queue_bytes) {
            client->dropped_ = true;
            client->queue_.clear();
            client->bytes_ = 0;
        }
    }
}

void LivePage::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    news_.notify_all();
}

std::string LivePage::snapshot_locked(Clock::time_point now) const {
    return json_text(page_state(views_, plan_, context_, shape_, end_, last_event_, now));
}

std::string LivePage::state_text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_locked(Clock::now());
}

std::shared_ptr<PageClient> LivePage::attach(std::string& first) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clients_.size() >= limits_.clients) {
        return nullptr;
    }
    first = "retry: " + std::to_string(kReconnectMs) + "\n" +
            sse_message("snapshot", last_event_, snapshot_locked(Clock::now()));
    clients_.push_back(std::make_shared<PageClient>());
    return clients_.back();
}

bool LivePage::next(PageClient& client, std::chrono::milliseconds timeout, std::string& out) {
    out.clear();
    std::unique_lock<std::mutex> lock(mutex_);
    news_.wait_for(lock, timeout,
                   [&] { return client.dropped_ || closed_ || !client.queue_.empty(); });
    if (client.dropped_) {
        return false;
    }
    for (const std::shared_ptr<const std::string>& message : client.queue_) {
        out += *message;
    }
    client.queue_.clear();
    client.bytes_ = 0;
    return !(closed_ && out.empty());
}

void LivePage::detach(const std::shared_ptr<PageClient>& client) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(clients_, client);
}

std::size_t LivePage::clients() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clients_.size();
}

}  // namespace fleet
