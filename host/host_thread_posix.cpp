#include "host/host_thread.h"

namespace cv {

HostThread::HostThread() : ok_(true) {}
HostThread::~HostThread() = default;

}  // namespace cv
