#include "host/host_thread.h"

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

namespace cv {

HostThread::HostThread() {
    com_ = SUCCEEDED(CoInitialize(nullptr));
    WSADATA data;
    sockets_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    ok_ = com_ && sockets_;
}

HostThread::~HostThread() {
    if (sockets_) WSACleanup();
    if (com_) CoUninitialize();
}

}  // namespace cv
