// The scriptable SNTP responder, over the platform's raw datagram calls so that it runs the same
// natively and under Wine.
#include "tests/support/responder.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "platform/messages.h"
#include "platform/names.h"
#include "platform/system.h"
#include "platform/udp.h"
#include "platform/wsocket.h"
#include "tests/support/fake_platform.h"

namespace testing_support {

namespace {

constexpr double kNtpToUnix = 2208988800.0;  // seconds from 1900-01-01 to 1970-01-01

void Sleep(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::intptr_t OpenBound(const std::string& address, std::uint16_t port) {
    const std::intptr_t s = platform::udp::Open();
    if (s == platform::udp::kInvalid || !platform::udp::Bind(s, Address(address), port))
        throw std::runtime_error("responder cannot bind " + address + ":" + std::to_string(port) +
                                 " (error " + std::to_string(platform::udp::LastError()) + ")");
    return s;
}

}  // namespace

void CloseUnwatched(std::intptr_t socket) {
    platform::MessageWindow none([](std::uint32_t, std::uintptr_t, std::intptr_t) {});
    platform::udp::Close(socket, none);
}

double UnixSecondsNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) /
           1e6;
}

void WriteNtpTimestamp(std::uint8_t* out, double unixSeconds) {
    const double ntp = unixSeconds + kNtpToUnix;
    const double whole = std::floor(ntp);
    // The seconds field wraps at 2^32: after 2036-02-07 it counts the next era.
    const auto seconds = static_cast<std::uint32_t>(std::fmod(whole, 4294967296.0));
    const auto fraction = static_cast<std::uint32_t>((ntp - whole) * 4294967296.0);
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(seconds >> (24 - 8 * i));
        out[4 + i] = static_cast<std::uint8_t>(fraction >> (24 - 8 * i));
    }
}

sntp::Message Responder::BuildReply(const ResponderScript& script, double receiveUnix,
                                    double transmitUnix, const std::uint8_t* request) {
    sntp::Message reply{};
    reply[sntp::kLeapVersionMode] =
        static_cast<std::uint8_t>((script.leap << 6) | ((script.version & 7) << 3) | (script.mode & 7));
    reply[sntp::kStratum] = script.stratum;
    reply[sntp::kPoll] = static_cast<std::uint8_t>(script.poll);
    reply[sntp::kPrecision] = static_cast<std::uint8_t>(script.precision);
    reply[sntp::kRootDispersion + 2] = 0x10;  // 1/16 s
    std::memcpy(&reply[sntp::kReferenceId], "TEST", 4);
    WriteNtpTimestamp(&reply[sntp::kReferenceTimestamp], receiveUnix - 16.0);
    WriteNtpTimestamp(&reply[sntp::kReceiveTimestamp], receiveUnix);
    WriteNtpTimestamp(&reply[sntp::kTransmitTimestamp], transmitUnix);
    if (request != nullptr)
        std::memcpy(&reply[sntp::kOriginateTimestamp], request + sntp::kTransmitTimestamp, 8);
    if (script.edit) script.edit(reply);
    return reply;
}

Responder::Responder(const std::string& address, std::uint16_t port, ResponderScript script)
    : script_(std::move(script)) {
    if (platform::system::SocketsStartup() != 0)
        throw std::runtime_error("responder cannot start Windows Sockets");
    local_ = Address(address);
    socket_ = OpenBound(address, port);
    port_ = platform::udp::LocalPort(socket_);
    thread_ = std::thread([this] { Run(); });
    // Ready before the first request: its first window costs a while under Wine, which would
    // count into the first request's way there.
    while (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Responder::~Responder() {
    stop_ = true;
    thread_.join();
    CloseUnwatched(socket_);
    platform::system::SocketsCleanup();
}

bool Responder::SourceAddressesHold(const std::string& sentFrom) {
    platform::system::SocketsStartup();
    platform::MessageWindow window([](std::uint32_t, std::uintptr_t, std::intptr_t) {});
    const std::intptr_t receiver = OpenBound("0.0.0.0", 0);
    const std::intptr_t sender = OpenBound(sentFrom, 0);
    platform::udp::SendTo(sender, "?", 1, Address(sentFrom), platform::udp::LocalPort(receiver));
    bool holds = false;
    if (platform::udp::WaitReadable(receiver, 1000)) {
        char buffer[4];
        TSockAddrIn from{};
        int length = sizeof from;
        platform::udp::ReceiveFrom(receiver, window, buffer, sizeof buffer, from, length);
        platform::IPv4 source;
        std::memcpy(&source, from.sin_addr, sizeof source);
        holds = source == Address(sentFrom);
    }
    platform::udp::Close(sender, window);
    platform::udp::Close(receiver, window);
    platform::system::SocketsCleanup();
    return holds;
}

void Responder::SetScript(ResponderScript script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
}

std::vector<ReceivedRequest> Responder::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool Responder::WaitForRequests(std::size_t n, int ms) const {
    for (int waited = 0; waited <= ms; waited += 10) {
        if (requests().size() >= n) return true;
        Sleep(10);
    }
    return false;
}

void Responder::SendTo(const std::string& address, std::uint16_t port,
                       const std::vector<std::uint8_t>& bytes) {
    platform::udp::SendTo(socket_, bytes.data(), static_cast<int>(bytes.size()), Address(address),
                          port);
}

void Responder::Run() {
    // The receive re-arms notices of a window on POSIX; this one is never dispatched.
    platform::MessageWindow window([](std::uint32_t, std::uintptr_t, std::intptr_t) {});
    ready_ = true;
    while (!stop_) {
        if (!platform::udp::WaitReadable(socket_, 20)) continue;
        std::uint8_t buffer[512];
        TSockAddrIn from{};
        int fromLength = sizeof from;
        const int n = platform::udp::ReceiveFrom(socket_, window, buffer, sizeof buffer, from,
                                                 fromLength);
        if (n < 0) continue;
        const double receiveUnix = UnixSecondsNow();
        platform::IPv4 source;
        std::memcpy(&source, from.sin_addr, 4);
        const std::uint16_t sourcePort =
            static_cast<std::uint16_t>((from.sin_port & 0xFF) << 8 | from.sin_port >> 8);
        ResponderScript script;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(ReceivedRequest{std::vector<std::uint8_t>(buffer, buffer + n),
                                                platform::DottedText(source), sourcePort});
            script = script_;
        }
        if (script.silent) continue;
        const std::size_t index = requests().size() - 1;
        Sleep(script.holdMs);
        const double transmitUnix = UnixSecondsNow();
        const std::uint8_t* echoed = n >= sntp::kMessageSize ? buffer : nullptr;
        const sntp::Message reply = BuildReply(script, receiveUnix + script.skewSeconds,
                                               transmitUnix + script.skewSeconds, echoed);
        Sleep(index < script.delaysMs.size() ? script.delaysMs[index] : script.delayMs);
        const platform::IPv4 destination = script.replyTo.empty() ? source : Address(script.replyTo);
        if (script.strayFirst) {
            sntp::Message wrongOrigin = reply;
            wrongOrigin[sntp::kOriginateTimestamp + 7] ^= 0x01;
            platform::udp::SendTo(socket_, wrongOrigin.data(), sntp::kMessageSize, destination,
                                  sourcePort);
            // A true copy from another port of this address, and one from another address (under
            // Wine that one comes from 127.0.0.1 too, and from another port).
            for (const std::string& from : {platform::DottedText(local_), std::string("127.0.0.3")}) {
                const std::intptr_t other = OpenBound(from, 0);
                platform::udp::SendTo(other, reply.data(), sntp::kMessageSize, destination,
                                      sourcePort);
                platform::udp::Close(other, window);
            }
        }
        std::intptr_t sender = socket_;
        if (!script.replyFrom.empty()) sender = OpenBound(script.replyFrom, 0);
        bool first = true;
        for (int length : script.lengths) {
            if (!first) Sleep(script.gapMs);
            first = false;
            std::vector<std::uint8_t> datagram(reply.begin(), reply.end());
            datagram.resize(static_cast<std::size_t>(length), 0);
            platform::udp::SendTo(sender, datagram.data(), length, destination, sourcePort);
        }
        if (sender != socket_) platform::udp::Close(sender, window);
    }
}

}  // namespace testing_support
