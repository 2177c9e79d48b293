// Who holds cvadmind's places (max-connections), and who gives one up when a newcomer needs it.
//
// A connection takes a place when it is accepted. Only strangers give way to newcomers: a
// connection whose first request has not come whole yet, and one that has had an answer without
// being authenticated. A connection whose first request has come whole keeps its place until that
// request is answered, and one that has authenticated keeps it to its end. Of the strangers, the
// one silent longest gives way: the one whose last sign of life (its accept, bytes of its first
// request, a request answered) came first. That is an order of events, not a reading of the clock,
// so how fast the service keeps up with a flood decides nothing: a client whose AUTH has come
// cannot be pushed out by any number of connections after it, and one that has authenticated
// keeps its place. When every place is held by connections that keep theirs, newcomers wait
// unaccepted in the system's queue until a place can be had.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/socket.h"

namespace cvadmind {

class Admission {
  public:
    explicit Admission(uint32_t places) : places_(places) {}

    // A connection accepted, heard now. It counts at once, beyond the places too: MakeRoom then
    // says who gives way.
    void Join(cv::SocketHandle connection);
    // Bytes of its first request came.
    void Heard(cv::SocketHandle connection);
    // Its first request came whole: it keeps its place until Answered.
    void Hold(cv::SocketHandle connection);
    // A request of it was answered; `trusted`: it is authenticated now.
    void Answered(cv::SocketHandle connection, bool trusted);

    // With more connections in than places, the one that gives way, counted no more; kNoSocket
    // when there are not more, or none may give way. One served on its own thread is shut down
    // here (its thread wakes and ends it); one whose first request has not come is its caller's
    // to close.
    cv::SocketHandle MakeRoom();
    // Returns once a newcomer can be given a place (a place is free or a stranger may give way),
    // or `stopping` is set.
    void AwaitRoom(const std::atomic<bool>& stopping);
    // Forgets the connection, before it is closed; true when it gave way.
    bool Leave(cv::SocketHandle connection);
    // Shuts every connection down, to stop.
    void ShutdownAll();

  private:
    enum class Stage { kHeard, kHeld, kStranger, kTrusted };
    struct Place {
        Stage stage = Stage::kHeard;
        uint64_t heard = 0;  // its last sign of life, in the order of events
        bool gave_way = false;
    };
    using Places = std::map<cv::SocketHandle, Place>;

    void Stamp(cv::SocketHandle connection, Stage stage);
    // The stranger silent longest, or end(). Callers hold guard_.
    Places::iterator Quietest();

    const uint32_t places_;
    std::mutex guard_;
    std::condition_variable changed_;  // a connection left or may give way now
    Places in_;                        // those that gave way too, until their threads end them
    uint64_t events_ = 0;
    size_t counted_ = 0;  // those that did not give way
};

}  // namespace cvadmind
