// The extended query's services on Windows: Windows Sockets 2 (getaddrinfo, a datagram socket that
// waits with select), GetSystemTimePreciseAsFileTime where the system has it (found at run time,
// so that the DLL still loads where it does not), QueryPerformanceCounter, and RtlGenRandom.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstring>

namespace platform::net {

namespace {

int ToSystem(const SocketAddress& from, sockaddr_storage& to) {
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

SOCKET AsSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

std::string SocketAddress::Text() const {
    sockaddr_storage storage;
    const int length = ToSystem(*this, storage);
    char text[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, text, sizeof text, nullptr,
                    0, NI_NUMERICHOST) != 0)
        return std::string();
    return text;
}

// Windows counts its start-ups: each one here is ended by its own clean-up.
SocketsInUse::SocketsInUse() {
    WSADATA data;
    failed_ = WSAStartup(MAKEWORD(2, 2), &data) != 0;
}

SocketsInUse::~SocketsInUse() {
    if (!failed_) WSACleanup();
}

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
    if (handle_ != -1) closesocket(AsSocket(handle_));
}

bool DatagramSocket::Open(int family) {
    const SOCKET s = socket(family == 6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return false;
    handle_ = static_cast<std::intptr_t>(s);
    // Bound now, so that the first send does not take the time of binding between the reading
    // of T1 and the request's leaving.
    sockaddr_storage any;
    SocketAddress none;
    none.family = family == 6 ? 6 : 4;
    const int length = ToSystem(none, any);
    return bind(s, reinterpret_cast<const sockaddr*>(&any), length) == 0;
}

bool DatagramSocket::Send(const SocketAddress& to, const void* data, std::size_t length) {
    sockaddr_storage storage;
    const int size = ToSystem(to, storage);
    return sendto(AsSocket(handle_), static_cast<const char*>(data), static_cast<int>(length), 0,
                  reinterpret_cast<const sockaddr*>(&storage), size) == static_cast<int>(length);
}

DatagramSocket::Wait DatagramSocket::Receive(void* buffer, std::size_t size, std::size_t& length,
                                             SocketAddress& from, std::int64_t& kernelUtcNs,
                                             int milliseconds) {
    kernelUtcNs = 0;  // Windows does not tell a datagram's receive time here
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(AsSocket(handle_), &readable);
    timeval limit;
    limit.tv_sec = milliseconds < 0 ? 0 : milliseconds / 1000;
    limit.tv_usec = milliseconds < 0 ? 0 : (milliseconds % 1000) * 1000;
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready == 0) return Wait::TimedOut;
    if (ready == SOCKET_ERROR) return Wait::Failed;
    sockaddr_storage source;
    int sourceLength = sizeof source;
    const int received = recvfrom(AsSocket(handle_), static_cast<char*>(buffer),
                                  static_cast<int>(size), 0,
                                  reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (received == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        // A longer datagram is cut to the buffer; it is told by a length beyond it. A refused
        // datagram of an earlier send (an ICMP port-unreachable) is no datagram.
        if (error == WSAEMSGSIZE) {
            length = size + 1;
        } else if (error == WSAECONNRESET) {
            return Wait::TimedOut;
        } else {
            return Wait::Failed;
        }
    } else {
        length = static_cast<std::size_t>(received);
    }
    if (!FromSystem(reinterpret_cast<const sockaddr*>(&source), from)) from = SocketAddress{};
    return Wait::Datagram;
}

namespace {
using PreciseClock = VOID(WINAPI*)(LPFILETIME);
std::atomic<PreciseClock> preciseClock{nullptr};
std::atomic<bool> preciseClockLooked{false};
}  // namespace

std::int64_t UtcNowNs() {
    if (!preciseClockLooked.load(std::memory_order_acquire)) {
        auto found = reinterpret_cast<PreciseClock>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
        preciseClock.store(found, std::memory_order_relaxed);
        preciseClockLooked.store(true, std::memory_order_release);
    }
    FILETIME now;
    if (PreciseClock precise = preciseClock.load(std::memory_order_relaxed))
        precise(&now);
    else
        GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks =
        (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000LL) * 100;  // 100 ns units since 1601-01-01
}

std::int64_t MonotonicNs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const std::int64_t whole = count.QuadPart / frequency.QuadPart;
    const std::int64_t part = count.QuadPart % frequency.QuadPart;
    return whole * 1000000000 + part * 1000000000 / frequency.QuadPart;
}

bool RandomBytes(void* buffer, std::size_t size) {
    // RtlGenRandom, exported by advapi32 as SystemFunction036.
    using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    static const GenRandom generate = [] {
        HMODULE advapi = LoadLibraryA("advapi32.dll");
        return advapi != nullptr ? reinterpret_cast<GenRandom>(reinterpret_cast<void*>(
                                       GetProcAddress(advapi, "SystemFunction036")))
                                 : nullptr;
    }();
    return generate != nullptr && generate(buffer, static_cast<ULONG>(size)) != FALSE;
}

}  // namespace platform::net
