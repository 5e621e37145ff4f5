// The extended query's services on POSIX systems: getaddrinfo, a datagram socket that waits with
// poll() and takes the kernel's receive time (SO_TIMESTAMPNS), clock_gettime, and getrandom.
#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::net {

namespace {

socklen_t ToSystem(const SocketAddress& from, sockaddr_storage& to) {
    std::memset(&to, 0, sizeof to);
    if (from.family == 4) {
        auto* sa = reinterpret_cast<sockaddr_in*>(&to);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(from.port);
        std::memcpy(&sa->sin_addr, from.address, 4);
        return sizeof *sa;
    }
    auto* sa = reinterpret_cast<sockaddr_in6*>(&to);
    sa->sin6_family = AF_INET6;
    sa->sin6_port = htons(from.port);
    std::memcpy(&sa->sin6_addr, from.address, 16);
    sa->sin6_scope_id = from.scope;
    return sizeof *sa;
}

bool FromSystem(const sockaddr* from, SocketAddress& to) {
    to = SocketAddress{};
    if (from->sa_family == AF_INET) {
        const auto* sa = reinterpret_cast<const sockaddr_in*>(from);
        to.family = 4;
        to.port = ntohs(sa->sin_port);
        std::memcpy(to.address, &sa->sin_addr, 4);
        return true;
    }
    if (from->sa_family == AF_INET6) {
        const auto* sa = reinterpret_cast<const sockaddr_in6*>(from);
        to.family = 6;
        to.port = ntohs(sa->sin6_port);
        std::memcpy(to.address, &sa->sin6_addr, 16);
        to.scope = sa->sin6_scope_id;
        return true;
    }
    return false;
}

}  // namespace

std::string SocketAddress::Text() const {
    sockaddr_storage storage;
    const socklen_t length = ToSystem(*this, storage);
    char text[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, text, sizeof text, nullptr,
                    0, NI_NUMERICHOST) != 0)
        return std::string();
    return text;
}

SocketsInUse::SocketsInUse() {}
SocketsInUse::~SocketsInUse() {}

bool Resolve(const std::string& host, std::uint16_t port, int family,
             std::vector<SocketAddress>& addresses) {
    addresses.clear();
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = family == 4 ? AF_INET : family == 6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return false;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        SocketAddress address;
        if (!FromSystem(entry->ai_addr, address)) continue;
        address.port = port;
        addresses.push_back(address);
    }
    freeaddrinfo(list);
    return !addresses.empty();
}

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
    SocketAddress none;
    none.family = family == 6 ? 6 : 4;
    const socklen_t length = ToSystem(none, any);
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
