// What the extended query needs of the system, with no window and no message queue: name
// resolution for IPv4 and IPv6, a datagram socket that waits for one datagram with a time limit,
// the UTC clock at its best resolution, a monotonic clock, and the cryptographic random source.
// Every call may come from any thread at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::net {

// An IPv4 or IPv6 socket address.
struct SocketAddress {
    int family = 0;                 // 4 or 6
    std::uint8_t address[16] = {};  // network byte order; IPv4 in the first four bytes
    std::uint16_t port = 0;
    std::uint32_t scope = 0;        // the IPv6 zone (interface index), 0 for none

    bool operator==(const SocketAddress& other) const;
    // The numeric text of the address, without port or brackets ("192.0.2.1", "2001:db8::1").
    std::string Text() const;
};

// Starts the system's sockets for the length of a scope (Windows Sockets 2 on Windows; nothing
// elsewhere). Failed() tells whether they could not be started.
class SocketsInUse {
public:
    SocketsInUse();
    ~SocketsInUse();
    SocketsInUse(const SocketsInUse&) = delete;
    SocketsInUse& operator=(const SocketsInUse&) = delete;
    bool Failed() const { return failed_; }

private:
    bool failed_ = false;
};

// The addresses of `host` (a name, or numeric IPv4 or IPv6 text) for UDP, of family 0 (any), 4 or
// 6, in the resolver's order, each with `port`. False when the name does not resolve, or has no
// address of that family.
bool Resolve(const std::string& host, std::uint16_t port, int family,
             std::vector<SocketAddress>& addresses);

// A datagram socket bound to any local address of its family, on a port the system chooses.
class DatagramSocket {
public:
    DatagramSocket() = default;
    ~DatagramSocket();
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    bool Open(int family);
    bool Send(const SocketAddress& to, const void* data, std::size_t length);

    enum class Wait { Datagram, TimedOut, Failed };
    // Waits up to `milliseconds` for a datagram and takes it: `length` is its whole length, even
    // where that is more than `size` (then only `size` bytes are kept). `kernelUtcNs` is the UTC
    // time at which the system received it, where the system tells (0 where it does not).
    Wait Receive(void* buffer, std::size_t size, std::size_t& length, SocketAddress& from,
                 std::int64_t& kernelUtcNs, int milliseconds);

private:
    std::intptr_t handle_ = -1;
};

// Nanoseconds since 1970-01-01 00:00 UTC, from the system's clock at its best resolution.
std::int64_t UtcNowNs();
// Nanoseconds of a clock that never steps, from an arbitrary start.
std::int64_t MonotonicNs();
// Fills `buffer` from the system's cryptographic random generator; false when it cannot.
bool RandomBytes(void* buffer, std::size_t size);

}  // namespace platform::net
