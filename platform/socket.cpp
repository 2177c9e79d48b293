#include "platform/socket.h"

namespace cv {

bool SendAll(SocketHandle socket, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        int sent = SendOnce(socket, bytes, size);
        if (sent <= 0) return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace cv
