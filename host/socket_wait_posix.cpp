#include "host/socket_wait.h"

#include <errno.h>
#include <poll.h>

namespace cv {

bool WaitForReadable(const std::vector<SocketHandle>& sockets, int milliseconds,
                     std::vector<SocketHandle>* ready) {
    std::vector<struct pollfd> wanted;
    wanted.reserve(sockets.size());
    for (SocketHandle socket : sockets) wanted.push_back({static_cast<int>(socket), POLLIN, 0});
    ready->clear();
    int count;
    do {
        count = poll(wanted.data(), wanted.size(), milliseconds);
    } while (count < 0 && errno == EINTR);
    if (count < 0) return false;
    // Readable, closed or failed alike: the receive tells which.
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (wanted[i].revents != 0) ready->push_back(sockets[i]);
    }
    return true;
}

}  // namespace cv
