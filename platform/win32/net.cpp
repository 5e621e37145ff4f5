// The extended query's services on Windows: Windows Sockets 2 (getaddrinfo, a datagram socket that
// waits with select), GetSystemTimePreciseAsFileTime where the system has it (found at run time,
// so that the DLL still loads where it does not), QueryPerformanceCounter, and RtlGenRandom.
#include "platform/net.h"
#include "platform/socket_address.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace platform::net {

namespace {

SOCKET AsSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

// Windows counts its start-ups: each one here is ended by its own clean-up.
SocketsInUse::SocketsInUse() {
    WSADATA data;
    failed_ = WSAStartup(MAKEWORD(2, 2), &data) != 0;
}

SocketsInUse::~SocketsInUse() {
    if (!failed_) WSACleanup();
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
    const SocketAddressLength length = AnyAddress(family, any);
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
