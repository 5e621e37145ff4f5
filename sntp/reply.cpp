// Reply processing: the handler of both sockets' data-available event, and the decoding of an
// accepted reply into the client's fields.
#include <cstring>

#include "platform/cancel.h"
#include "platform/clock.h"
#include "sntp/client.h"

void TSNTPClient::DecodeReply(const std::uint8_t* reply) {
    using namespace sntp;
    const std::uint8_t first = reply[kLeapVersionMode];
    LeapIndicator = sntp::LeapIndicator(first);
    VersionNumber = sntp::VersionNumber(first);
    Mode = sntp::Mode(first);
    Stratum = reply[kStratum];
    Poll = SignedByte(reply[kPoll]);
    Precision = SignedByte(reply[kPrecision]);
    RootDelay = NtpShortToSeconds(reply + kRootDelay);
    RootDispersion = NtpShortToSeconds(reply + kRootDispersion);
    ReferenceTimestamp = NtpTimestampToDayValue(reply + kReferenceTimestamp);
    OriginateTimestamp = NtpTimestampToDayValue(reply + kOriginateTimestamp);
    ReceiveTimestamp = NtpTimestampToDayValue(reply + kReceiveTimestamp);
    TransmitTimestamp = NtpTimestampToDayValue(reply + kTransmitTimestamp);
}

SNTP_CATCHES_THREAD_CANCELLATION void TSNTPClient::SocketDataAvailable(TObject* Sender, std::uint16_t Error) {
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
        if (source != ServerAddr && source != platform::IPv4FromBytes(127, 0, 0, 1)) return;

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
