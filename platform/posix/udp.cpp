// Datagram sockets over BSD sockets. Errors leave here as Windows Sockets codes: this file is the
// edge where errno is translated.
#include "platform/udp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/queue.h"

namespace platform::udp {

namespace {

thread_local int lastError = 0;

int Translate(int error) {
    switch (error) {
        case EINTR: return kWSAEINTR;
        case EBADF: return kWSAEBADF;
        case EACCES:
        case EPERM: return kWSAEACCES;
        case EFAULT: return kWSAEFAULT;
        case EINVAL: return kWSAEINVAL;
        case EMFILE:
        case ENFILE: return kWSAEMFILE;
        case EAGAIN: return kWSAEWOULDBLOCK;
        case ENOTSOCK: return kWSAENOTSOCK;
        case EDESTADDRREQ: return kWSAEDESTADDRREQ;
        case EMSGSIZE: return kWSAEMSGSIZE;
        case EPROTONOSUPPORT: return kWSAEPROTONOSUPPORT;
        case EAFNOSUPPORT: return kWSAEAFNOSUPPORT;
        case EADDRINUSE: return kWSAEADDRINUSE;
        case EADDRNOTAVAIL: return kWSAEADDRNOTAVAIL;
        case ENETDOWN: return kWSAENETDOWN;
        case ENETUNREACH: return kWSAENETUNREACH;
        case ECONNABORTED: return kWSAECONNABORTED;
        case ECONNRESET: return kWSAECONNRESET;
        case ENOBUFS:
        case ENOMEM: return kWSAENOBUFS;
        case ENOTCONN: return kWSAENOTCONN;
        case ECONNREFUSED: return kWSAECONNRESET;  // what Windows reports for a refused datagram
        case EHOSTUNREACH: return kWSAEHOSTUNREACH;
        default: return kWSAEINVAL;
    }
}

bool Failed() {
    lastError = Translate(errno);
    return false;
}

sockaddr_in Address(IPv4 address, std::uint16_t port) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    std::memcpy(&sa.sin_addr, &address, 4);
    return sa;
}

}  // namespace

int LastError() { return lastError; }

Handle Open() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) Failed();
    return fd < 0 ? kInvalid : fd;
}

bool Bind(Handle socket, IPv4 address, std::uint16_t port) {
    const sockaddr_in sa = Address(address, port);
    if (bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return Failed();
    return true;
}

bool EnableBroadcast(Handle socket) {
    const int on = 1;
    if (setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return Failed();
    return true;
}

bool SelectNotifications(Handle socket, MessageWindow& window) {
    queue::Watch(window, static_cast<int>(socket), kSocketMessage);
    return true;
}

void WantWrite(Handle, MessageWindow& window, bool wanted) { queue::WantWrite(window, wanted); }

int SendTo(Handle socket, const void* data, int length, IPv4 address, std::uint16_t port) {
    const sockaddr_in sa = Address(address, port);
    const ssize_t sent = sendto(static_cast<int>(socket), data, static_cast<size_t>(length),
                                MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (sent < 0) return Failed(), -1;
    return static_cast<int>(sent);
}

int ReceiveFrom(Handle socket, MessageWindow& window, void* buffer, int size, TSockAddrIn& from,
                int& fromLength) {
    sockaddr_in sa;
    socklen_t length = sizeof sa;
    std::memset(&sa, 0, sizeof sa);
    // MSG_TRUNC gives the datagram's real length, so that a longer one fails as it does on
    // Windows instead of passing as a full buffer.
    const ssize_t received = recvfrom(static_cast<int>(socket), buffer, static_cast<size_t>(size),
                                      MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &length);
    queue::Rearm(window);
    if (received < 0) return Failed(), -1;
    std::memset(&from, 0, sizeof from);
    from.sin_family = AF_INET;
    from.sin_port = sa.sin_port;
    std::memcpy(from.sin_addr, &sa.sin_addr, 4);
    fromLength = static_cast<int>(sizeof from);
    if (received > size) {
        lastError = kWSAEMSGSIZE;
        return -1;
    }
    return static_cast<int>(received);
}

bool Close(Handle socket, MessageWindow& window) {
    queue::Unwatch(window);
    if (close(static_cast<int>(socket)) != 0) return Failed();
    return true;
}

std::uint16_t LocalPort(Handle socket) {
    sockaddr_in sa;
    socklen_t length = sizeof sa;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

bool LookupService(const std::string& name, std::uint16_t& port) {
    servent entry;
    servent* result = nullptr;
    char work[1024];
    if (getservbyname_r(name.c_str(), "udp", &entry, work, sizeof work, &result) != 0 ||
        result == nullptr) {
        lastError = kWSANO_DATA;
        return false;
    }
    port = ntohs(static_cast<std::uint16_t>(result->s_port));
    return true;
}

bool WaitReadable(Handle socket, int milliseconds) {
    pollfd fd{static_cast<int>(socket), POLLIN, 0};
    return poll(&fd, 1, milliseconds) > 0;
}

}  // namespace platform::udp
