// The client component: the sockets' lifetime, one query up to the moment its request is on the
// way (the local address, the server look-up, the opening of both sockets and the send), and the
// handling of what arrives on them.
#include "sntp/client.h"

#include <cstring>

#include "platform/cancel.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/names.h"
#include "sntp/reply.h"

namespace {
const char kAnyAddress[] = "0.0.0.0";
const char kLoopbackText[] = "127.0.0.1";
}  // namespace

TSNTPClient::TSNTPClient(TComponent* owner)
    : TComponent(owner), HostPort("123"), ListenPort("123"), SocketOwner(owner), FTimeout(500) {}

void TSNTPClient::SocketErrorOccurred(TObject* Sender) {
    if (!OnWinsockError) return;
    auto* socket = dynamic_cast<TWSocket*>(Sender);
    LastErrorSocket = socket;
    const int code = socket != nullptr ? socket->LastError() : 0;
    OnWinsockError(this, static_cast<std::uint16_t>(code & 0xFFFF));
}

void TSNTPClient::ReleaseSockets() {
    if (!SocketsCreated) return;
    CloseSockets();
    delete QuerySocket;
    delete ListenSocket;
    QuerySocket = nullptr;
    ListenSocket = nullptr;
    LastErrorSocket = nullptr;
    SocketsCreated = false;
}

void TSNTPClient::CloseSockets() {
    if (!SocketsCreated) return;
    QuerySocket->Close();
    ListenSocket->Close();
}

bool TSNTPClient::ListenSocketFailedLast() const {
    return LastErrorSocket != nullptr && LastErrorSocket == ListenSocket;
}

bool TSNTPClient::SocketsOnCallingThread() const {
    return !SocketsCreated || (QuerySocket->OnCallingThread() && ListenSocket->OnCallingThread());
}

SNTP_CATCHES_THREAD_CANCELLATION void TSNTPClient::StartQuery() {
    if (SocketsCreated) {
        CloseSockets();
    } else {
        QuerySocket = new TWSocket(SocketOwner);
        ListenSocket = new TWSocket(SocketOwner);
        SocketsCreated = true;
    }
    for (TWSocket* socket : {QuerySocket, ListenSocket}) {
        socket->OnDataAvailable = [this](TObject* s, std::uint16_t e) { SocketDataAvailable(s, e); };
        socket->OnError = [this](TObject* s) { SocketErrorOccurred(s); };
        socket->OnMessagePump = [this](TObject* s) { ProcessSocketMessages(s); };
    }
    ServerIP = kAnyAddress;
    LocalIP = GetLocalIP();
    // Without a network address nothing is looked up.
    if (LocalIP != kLoopbackText && LocalIP != kAnyAddress) {
        try {
            ServerAddr = WSocketResolveHost(HostAddr);
            // The loopback address stands for this machine: ask it under its first own address.
            if (ServerAddr == platform::IPv4FromBytes(127, 0, 0, 1)) {
                const std::vector<std::string> own = LocalIPList();
                if (own.empty()) throw ESocketException("this machine has no address of its own");
                ServerAddr = WSocketResolveHost(own.front());
            }
            ServerIP = AddrToText(ServerAddr);
        } catch (const platform::ThreadCancellation&) {
            throw;
        } catch (...) {
            // An unresolvable server is reported below, as OnResolveError.
        }
    }
    if (ServerIP != kAnyAddress || HostAddr == LocalIP) {
        ReplyReceived = false;
        RequestSent = false;
        OpenSockets();
    } else if (OnResolveError) {
        OnResolveError(this);
    }
}

SNTP_CATCHES_THREAD_CANCELLATION void TSNTPClient::OpenSockets() {
    try {
        if (ServerIP == kAnyAddress && HostAddr != kLoopbackText) {
            RequestSent = false;
            ReplyReceived = false;
            return;
        }
        // A socket that fails reports it through OnError and the sequence goes on.
        ListenSocket->Close();
        ListenSocket->SetAddr(kAnyAddress);
        ListenSocket->SetPort(ListenPort);
        ListenSocket->SetProto("udp");
        ListenSocket->Listen();

        QuerySocket->Close();
        QuerySocket->SetAddr(ServerIP != kAnyAddress ? ServerIP : HostAddr);
        QuerySocket->SetPort(HostPort);
        QuerySocket->SetProto("udp");
        QuerySocket->Connect();

        SendRequest();
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
        // The query then ends only through QueryTimeout.
    }
}

void TSNTPClient::SendRequest() {
    const sntp::Message request = sntp::BuildRequest();
    SendTick = platform::GetTickCount();
    QuerySocket->Send(request.data(), sntp::kMessageSize);
    RequestSent = true;
}

void TSNTPClient::QueryTimeout() {
    if (ReplyReceived) return;
    TimedOut = true;
    CloseSockets();
    if (OnTimeout) OnTimeout(this);
}

void TSNTPClient::ProcessSocketMessages(TObject*) { platform::DispatchWaitingMessages(); }

std::string TSNTPClient::GetLocalIP() {
    const std::vector<std::string> list = LocalIPList();
    return list.empty() ? std::string(kLoopbackText) : list.front();
}

std::string TSNTPClient::AddrToText(platform::IPv4 address) { return platform::DottedText(address); }

// What arrives: one datagram judged, decoded and timed, the sockets closed, the event raised.

void TSNTPClient::DecodeReply(const std::uint8_t* reply) {
    using namespace sntp;
    const Header header = DecodeHeader(reply);
    LeapIndicator = header.leap();
    VersionNumber = header.version();
    Mode = header.mode();
    Stratum = header.stratum;
    Poll = header.poll;
    Precision = header.precision;
    RootDelay = NtpShortToSeconds(reply + kRootDelay);
    RootDispersion = NtpShortToSeconds(reply + kRootDispersion);
    ReferenceTimestamp = NtpTimestampToDayValue(reply + kReferenceTimestamp);
    OriginateTimestamp = NtpTimestampToDayValue(reply + kOriginateTimestamp);
    ReceiveTimestamp = NtpTimestampToDayValue(reply + kReceiveTimestamp);
    TransmitTimestamp = NtpTimestampToDayValue(reply + kTransmitTimestamp);
}

SNTP_CATCHES_THREAD_CANCELLATION void TSNTPClient::SocketDataAvailable(TObject* Sender,
                                                                       std::uint16_t Error) {
    try {
        // The tick comes first, so that neither the tests nor the receive count into the round trip.
        ReceiveTick = platform::GetTickCount();
        auto* socket = dynamic_cast<TWSocket*>(Sender);
        if (socket == nullptr || socket->State() != wsConnected) return;
        ReplyReceived = true;

        std::uint8_t buffer[sntp::kMessageSize];
        TSockAddrIn from{};
        int fromLength = sizeof from;
        if (socket->ReceiveFrom(buffer, sizeof buffer, from, fromLength) != sntp::kMessageSize)
            return;
        platform::IPv4 source;
        std::memcpy(&source, from.sin_addr, sizeof source);
        if (!sntp::IsAcceptedSource(source, ServerAddr)) return;

        std::memcpy(RawReply.data(), buffer, sizeof buffer);
        DecodeReply(buffer);
        CloseSockets();

        RoundTrip = sntp::TickDifference(ReceiveTick, SendTick);
        TimedOut = RoundTrip > Timeout();
        if (TimedOut) return;
        LastTransmitTimestamp = TransmitTimestamp;
        ServerTimeEstimate = sntp::EstimateServerTime(TransmitTimestamp, ReceiveTimestamp, RoundTrip);
        ServerTime = ServerTimeEstimate;
        ReplyInvalid = sntp::IsInvalidReply(RawReply.data());
        if (OnDataAvailable) OnDataAvailable(this, Error);
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
        try {
            CloseSockets();
        } catch (...) {
        }
        if (OnReceiveError) OnReceiveError(this);
    }
}
