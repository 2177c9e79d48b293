// What a host of the library must do on each thread that calls it: the provider initialises
// neither COM (for its XML index) nor Windows Sockets (for its remote channel). Our own hosts,
// cvcal and cvadmind, call this once per thread. Elsewhere than Windows there is nothing to do.
#pragma once

namespace cv {

class HostThread {
  public:
    HostThread();
    ~HostThread();
    HostThread(const HostThread&) = delete;
    HostThread& operator=(const HostThread&) = delete;
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
    // What this thread started and must end: only the Windows build has anything to start.
    [[maybe_unused]] bool com_ = false;
    [[maybe_unused]] bool sockets_ = false;
};

}  // namespace cv
