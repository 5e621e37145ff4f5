// The extended query's services on POSIX systems: getaddrinfo, a datagram socket that waits with
// poll() and takes the kernel's receive time (SO_TIMESTAMPNS), clock_gettime, and getrandom.
#include "platform/net.h"
#include "platform/socket_address.h"

#include <poll.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::net {


SocketsInUse::SocketsInUse() {}
SocketsInUse::~SocketsInUse() {}


DatagramSocket::~DatagramSocket() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool DatagramSocket::Open(int family) {
    const int fd = socket(family == 6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return false;
    handle_ = fd;
    // The kernel's receive time of each datagram, taken before any scheduling delay.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Bound now, so that the first send does not take the time of binding between the reading
    // of T1 and the request's leaving.
    sockaddr_storage any;
    const SocketAddressLength length = AnyAddress(family, any);
    return bind(fd, reinterpret_cast<const sockaddr*>(&any), length) == 0;
}

bool DatagramSocket::Send(const SocketAddress& to, const void* data, std::size_t length) {
    sockaddr_storage storage;
    const socklen_t size = ToSystem(to, storage);
    return sendto(static_cast<int>(handle_), data, length, MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&storage), size) == static_cast<ssize_t>(length);
}

DatagramSocket::Wait DatagramSocket::Receive(void* buffer, std::size_t size, std::size_t& length,
                                             SocketAddress& from, std::int64_t& kernelUtcNs,
                                             int milliseconds) {
    pollfd fds{static_cast<int>(handle_), POLLIN, 0};
    const int ready = poll(&fds, 1, milliseconds < 0 ? 0 : milliseconds);
    if (ready == 0) return Wait::TimedOut;
    if (ready < 0) return errno == EINTR ? Wait::TimedOut : Wait::Failed;
    sockaddr_storage source;
    iovec data{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message;
    std::memset(&message, 0, sizeof message);
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // MSG_TRUNC gives the datagram's whole length, so that a longer one is not taken for a fit.
    const ssize_t received = recvmsg(static_cast<int>(handle_), &message, MSG_TRUNC | MSG_DONTWAIT);
    if (received < 0) return errno == EAGAIN || errno == EINTR ? Wait::TimedOut : Wait::Failed;
    length = static_cast<std::size_t>(received);
    if (!FromSystem(reinterpret_cast<const sockaddr*>(&source), from)) from = SocketAddress{};
    kernelUtcNs = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec when;
            std::memcpy(&when, CMSG_DATA(c), sizeof when);
            kernelUtcNs = static_cast<std::int64_t>(when.tv_sec) * 1000000000 + when.tv_nsec;
        }
    }
    return Wait::Datagram;
}

std::int64_t UtcNowNs() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool RandomBytes(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace platform::net
