#include "service/admission.h"

#include <chrono>

namespace cvadmind {

void Admission::Join(cv::SocketHandle connection) {
    std::lock_guard<std::mutex> hold(guard_);
    in_[connection] = Place{Stage::kHeard, ++events_};
    ++counted_;
}

void Admission::Stamp(cv::SocketHandle connection, Stage stage) {
    std::lock_guard<std::mutex> hold(guard_);
    auto it = in_.find(connection);
    if (it == in_.end()) return;
    it->second.stage = stage;
    it->second.heard = ++events_;
    if (stage == Stage::kStranger) changed_.notify_all();
}

void Admission::Heard(cv::SocketHandle connection) {
    Stamp(connection, Stage::kHeard);
}

void Admission::Hold(cv::SocketHandle connection) {
    Stamp(connection, Stage::kHeld);
}

void Admission::Answered(cv::SocketHandle connection, bool trusted) {
    Stamp(connection, trusted ? Stage::kTrusted : Stage::kStranger);
}

Admission::Places::iterator Admission::Quietest() {
    // Connections that gave way hold their threads until those wake and end, which is at once;
    // while as many as there are places are still ending, only strangers without a thread give
    // way, so that a burst does not start ever more threads.
    const bool threads_to_spare = in_.size() - counted_ < places_;
    auto quietest = in_.end();
    for (auto it = in_.begin(); it != in_.end(); ++it) {
        const Place& place = it->second;
        const bool stranger =
            place.stage == Stage::kHeard || (place.stage == Stage::kStranger && threads_to_spare);
        if (stranger && !place.gave_way &&
            (quietest == in_.end() || place.heard < quietest->second.heard)) {
            quietest = it;
        }
    }
    return quietest;
}

cv::SocketHandle Admission::MakeRoom() {
    std::lock_guard<std::mutex> hold(guard_);
    if (counted_ <= places_) return cv::kNoSocket;
    auto quietest = Quietest();
    if (quietest == in_.end()) return cv::kNoSocket;
    quietest->second.gave_way = true;
    --counted_;
    // Shut down while it is known: once its thread has forgotten and closed it, the handle may
    // come back for anything else.
    if (quietest->second.stage != Stage::kHeard) cv::ShutdownSocket(quietest->first);
    return quietest->first;
}

void Admission::AwaitRoom(const std::atomic<bool>& stopping) {
    std::unique_lock<std::mutex> hold(guard_);
    // A stop request comes from a signal handler, which cannot notify: it is looked for now and
    // then.
    while (!stopping && counted_ >= places_ && Quietest() == in_.end()) {
        changed_.wait_for(hold, std::chrono::milliseconds(100));
    }
}

bool Admission::Leave(cv::SocketHandle connection) {
    std::lock_guard<std::mutex> hold(guard_);
    auto it = in_.find(connection);
    if (it == in_.end()) return false;
    const bool gave_way = it->second.gave_way;
    if (!gave_way) --counted_;
    in_.erase(it);
    changed_.notify_all();
    return gave_way;
}

void Admission::ShutdownAll() {
    std::lock_guard<std::mutex> hold(guard_);
    for (const auto& entry : in_) cv::ShutdownSocket(entry.first);
}

}  // namespace cvadmind
