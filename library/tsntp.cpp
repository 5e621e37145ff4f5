// The library's client: its outcome handlers and the wait of one query.
#include "library/tsntp.h"

#include "library/outcomes.h"
#include "platform/cancel.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "sntp/reply.h"

void TSNTP::BindOutcomeHandlers() {
    OnDataAvailable = [this](TObject* s, std::uint16_t e) { RecordReply(s, e); };
    OnTimeout = [this](TObject* s) { RecordTimeout(s); };
    OnWinsockError = [this](TObject* s, std::uint16_t e) { RecordWinsockError(s, e); };
    OnResolveError = [this](TObject* s) { RecordResolveError(s); };
    OnReceiveError = [this](TObject* s) { RecordReceiveError(s); };
}

void TSNTP::Record(std::uint16_t code, double offset) {
    Outcome.code = code;
    Outcome.offset = offset;
    Busy = false;
}

void TSNTP::RecordReply(TObject*, std::uint16_t) {
    // A server that is unsynchronised, sends a kiss-o'-death or gives no time has no offset to
    // offer: taking one would let a host set its clock from garbage. Nor has a datagram that is
    // no answer to a client, such as a broadcast that reached the listening socket on port 123.
    if (ReplyInvalid || !sntp::IsServerAnswer(RawReply.data()))
        return Record(outcome::kNotResolvable, outcome::kFailureOffset);
    // The offset is against the local wall clock, not against UTC.
    Record(outcome::kReplyAccepted, sntp::DayValueDifference(ServerTime, platform::LocalDateTime()));
}

void TSNTP::RecordTimeout(TObject*) { Record(outcome::kNoReplyInTime, outcome::kFailureOffset); }

void TSNTP::RecordWinsockError(TObject*, std::uint16_t) {
    // The reply can still come to the query socket when the listening socket could not open
    // (port 123 held by another program, or no privilege for it): the query goes on.
    if (ListenSocketFailedLast()) return;
    Record(outcome::kSocketError, outcome::kFailureOffset);
}

void TSNTP::RecordResolveError(TObject*) {
    Record(outcome::kNotResolvable, outcome::kFailureOffset);
}

void TSNTP::RecordReceiveError(TObject*) {
    Record(outcome::kNotResolvable, outcome::kFailureOffset);
}

namespace {
// Closes the client's sockets however the wait is left, a cancelled thread included.
struct SocketsClosedOnExit {
    TSNTPClient& client;
    ~SocketsClosedOnExit() {
        try {
            client.CloseSockets();
        } catch (...) {
        }
    }
};
}  // namespace

SNTP_CATCHES_THREAD_CANCELLATION QueryOutcome TSNTP::Query(const char* host) {
    // Sockets made on another thread send their notifications there: this thread gets its own.
    if (!SocketsOnCallingThread()) ReleaseSockets();
    SocketsClosedOnExit closed{*this};
    Busy = true;
    platform::DispatchWaitingMessages();
    HostAddr = host != nullptr ? host : "";
    const std::uint32_t start = platform::GetTickCount();
    const auto limit = static_cast<std::uint32_t>(Timeout());
    try {
        StartQuery();
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
        // Windows Sockets could not start, or this machine's addresses could not be read.
        Record(outcome::kSocketError, outcome::kFailureOffset);
    }
    while (Busy) {
        ProcessSocketMessages(nullptr);
        if (!Busy) break;
        const std::uint32_t elapsed = platform::GetTickCount() - start;  // wraps with the tick
        if (elapsed > limit) {
            QueryTimeout();
            // A datagram came and was dropped, so QueryTimeout let it be: the limit ends it all the same.
            if (Busy) Record(outcome::kNoReplyInTime, outcome::kFailureOffset);
        } else {
            platform::WaitForMessage(limit - elapsed + 1);
        }
    }
    // No datagram of this query may change the outcome of a later call.
    CloseSockets();
    platform::DispatchWaitingMessages();
    return Outcome;
}
