// Waiting on many sockets at once, for cvadmind's door, which hears every connection that has not
// sent its first request from one thread. Only our hosts use it, so the DLL does not carry it.
#pragma once

#include <vector>

#include "platform/socket.h"

namespace cv {

// Waits up to `milliseconds` (-1: without a limit) until any of the sockets has bytes to read, has
// been closed or has failed, or (a listening socket) has a connection to accept. Those sockets go
// to *ready, in their order. False when the wait itself failed.
bool WaitForReadable(const std::vector<SocketHandle>& sockets, int milliseconds,
                     std::vector<SocketHandle>* ready);

}  // namespace cv
