#include "host/socket_wait.h"

#include <winsock2.h>

#include <cstddef>

namespace cv {

bool WaitForReadable(const std::vector<SocketHandle>& sockets, int milliseconds,
                     std::vector<SocketHandle>* ready) {
    ready->clear();
    // The fd_set type holds FD_SETSIZE (64) sockets, but select reads as many as its count says:
    // a larger set is laid out in storage of its own.
    std::vector<SOCKET> storage(offsetof(fd_set, fd_array) / sizeof(SOCKET) + sockets.size() + 1);
    fd_set* set = reinterpret_cast<fd_set*>(storage.data());
    set->fd_count = static_cast<u_int>(sockets.size());
    SOCKET* slots = set->fd_array;
    for (size_t i = 0; i < sockets.size(); ++i) slots[i] = static_cast<SOCKET>(sockets[i]);
    timeval limit = {milliseconds / 1000, (milliseconds % 1000) * 1000};
    // A connection that failed or was reset is readable too: its receive fails.
    if (select(0, set, nullptr, nullptr, milliseconds < 0 ? nullptr : &limit) == SOCKET_ERROR) {
        return false;
    }
    for (u_int i = 0; i < set->fd_count; ++i) ready->push_back(static_cast<SocketHandle>(slots[i]));
    return true;
}

}  // namespace cv
