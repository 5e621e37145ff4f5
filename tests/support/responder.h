// A scriptable SNTP responder for tests: a real UDP socket on an address and port of the test's
// choosing, answered from a thread of its own as the script says (clock skew, hold time, delay,
// header fields, datagram length, source address, several datagrams, silence).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/address.h"
#include "sntp/message.h"

namespace testing_support {

struct ResponderScript {
    bool silent = false;          // receive and record, never answer
    double skewSeconds = 0.0;     // the server's clock minus the true UTC time
    int holdMs = 0;               // between the receive and the transmit timestamp
    int delayMs = 0;              // after the transmit timestamp, before the reply leaves
    std::uint8_t leap = 0, version = 4, mode = 4, stratum = 2;
    std::int8_t poll = 6, precision = -20;
    std::vector<int> lengths{48};  // one datagram per entry, in this order, cut or padded with zeros
    int gapMs = 0;                 // between those datagrams
    std::string replyFrom;         // source address of the replies; empty: the listening address
    std::string replyTo;           // where the replies go (same port); empty: the request's source
    std::function<void(sntp::Message&)> edit;  // last word on any field
    // The delay before the reply to the n-th request (0, 1, ...); past the list, delayMs.
    std::vector<int> delaysMs;
    // Before the reply, three that must not count: one from the right source whose origin is
    // not the request's transmit value, and true copies from another port of the same address
    // and from another address (127.0.0.3).
    bool strayFirst = false;
};

// A responder that receives and records, and never answers.
inline ResponderScript SilentScript() {
    ResponderScript script;
    script.silent = true;
    return script;
}

struct ReceivedRequest {
    std::vector<std::uint8_t> bytes;
    std::string fromAddress;
    std::uint16_t fromPort;
};

// Closes a raw socket that no window watches.
void CloseUnwatched(std::intptr_t socket);

// The NTP timestamp (8 bytes, big-endian) of a UTC time given as seconds since 1970.
void WriteNtpTimestamp(std::uint8_t* out, double unixSeconds);
double UnixSecondsNow();

class Responder {
public:
    // Listens on address:port (port 0: one the system chooses).
    Responder(const std::string& address, std::uint16_t port, ResponderScript script = {});
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    std::uint16_t port() const { return port_; }
    void SetScript(ResponderScript script);
    std::vector<ReceivedRequest> requests() const;
    // Waits up to `ms` for the n-th request to have arrived.
    bool WaitForRequests(std::size_t n, int ms) const;
    // Sends a datagram from the responder's own socket, outside any script.
    void SendTo(const std::string& address, std::uint16_t port,
                const std::vector<std::uint8_t>& bytes);

    // Whether a datagram sent from a socket bound to `from`, to that same address, arrives from
    // it. Under Wine a socket's own address does not choose the source: one sent to a loopback
    // address comes from 127.0.0.1, one sent to another local address from that address.
    static bool SourceAddressesHold(const std::string& from);

    // A reply built as the script says, for a request that arrived at `receiveUnix`.
    // The origin timestamp echoes the request's transmit timestamp, as servers do.
    static sntp::Message BuildReply(const ResponderScript& script, double receiveUnix,
                                    double transmitUnix, const std::uint8_t* request = nullptr);

private:
    void Run();

    std::intptr_t socket_;
    platform::IPv4 local_ = 0;
    std::uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ready_{false};
    mutable std::mutex mutex_;
    ResponderScript script_;
    std::vector<ReceivedRequest> requests_;
    std::thread thread_;
};

}  // namespace testing_support
