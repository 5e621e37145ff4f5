// The exported functions and the blocking driver that runs one query on the caller's thread.
#include <atomic>

#include "library/outcomes.h"
#include "library/tsntp.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/module.h"

TSNTP* GlobalClient = nullptr;
SNTPLoopFunction LoopFunction = nullptr;
std::uint16_t LastOutcome = 0;
double LastOffset = 0.0;

namespace {

constexpr std::int32_t kLibraryTimeout = 4000;  // milliseconds
std::atomic<bool> queryRunning{false};  // a QueryServer is on the stack
bool cleanupDeferred = false;  // SNTPCleanUp was called from inside it

void ReleaseGlobalClient() {
    if (GlobalClient == nullptr) return;
    GlobalClient->ReleaseSockets();
    delete GlobalClient;
    GlobalClient = nullptr;
}

// The wait of one query: pump the thread's messages, which delivers the sockets' notifications,
// and sleep on the queue between passes until a handler has recorded an outcome.
void RunQuery(TSNTP& client, const char* host) {
    client.Busy = true;
    DrainMessages();
    client.HostAddr = host != nullptr ? host : "";
    const std::uint32_t start = platform::GetTickCount();
    const auto limit = static_cast<std::uint32_t>(client.Timeout());
    try {
        client.StartQuery();
    } catch (...) {
        // Windows Sockets could not start, or the local host name could not be read.
        client.Record(outcome::kSocketError, outcome::kFailureOffset);
    }
    while (client.Busy) {
        client.ProcessSocketMessages(nullptr);
        if (!client.Busy) break;
        const std::uint32_t elapsed = platform::GetTickCount() - start;  // wraps with the tick
        if (elapsed > limit) {
            client.QueryTimeout();
            // A datagram came and was dropped, so QueryTimeout let it be: the limit ends it all the same.
            if (client.Busy) client.Record(outcome::kNoReplyInTime, outcome::kFailureOffset);
        } else {
            platform::WaitForMessage(limit - elapsed + 1);
        }
    }
    // No datagram of this query may change the outcome of a later call.
    client.CloseSockets();
    DrainMessages();
}

void UnloadLibrary() {
    // Under the loader lock: the sockets are closed and freed, Windows Sockets is left alone.
    if (GlobalClient == nullptr) return;
    AbandonSocketsStartup();
    ReleaseGlobalClient();
}

[[maybe_unused]] const bool unloadHandlerSet = (platform::SetUnloadHandler(&UnloadLibrary), true);

}  // namespace

void CreateGlobalClient() {
    auto* client = new TSNTP(nullptr);
    client->HostPort = "123";
    client->SetTimeout(kLibraryTimeout);
    client->OnDataAvailable = [client](TObject* s, std::uint16_t e) { client->RecordReply(s, e); };
    client->OnResolveError = [client](TObject* s) { client->RecordResolveError(s); };
    client->OnReceiveError = [client](TObject* s) { client->RecordResolveError(s); };
    client->OnTimeout = [client](TObject* s) { client->RecordTimeout(s); };
    client->OnWinsockError = [client](TObject* s, std::uint16_t e) {
        client->RecordWinsockError(s, e);
    };
    client->Busy = false;
    GlobalClient = client;
}

void DrainMessages() { platform::DispatchWaitingMessages(); }

extern "C" SNTP_API std::uint16_t SNTP_CALL QueryServer(const char* host, double* offset) {
    // Called from a message that a running query dispatched (or, against the rules, from another
    // thread at the same time): the running query is left alone, as Windows Sockets 1.1 refuses a
    // second blocking call.
    if (queryRunning.exchange(true)) {
        if (offset != nullptr) *offset = outcome::kFailureOffset;
        return outcome::kSocketError;
    }
    try {
        if (GlobalClient == nullptr) CreateGlobalClient();
        RunQuery(*GlobalClient, host);
    } catch (...) {
        // Only a host's own window procedure, dispatched by the wait, can get here.
        LastOutcome = outcome::kSocketError;
        LastOffset = outcome::kFailureOffset;
        try {
            if (GlobalClient != nullptr) GlobalClient->CloseSockets();
        } catch (...) {
        }
    }
    queryRunning = false;
    if (cleanupDeferred) {
        cleanupDeferred = false;
        try {
            ReleaseGlobalClient();
        } catch (...) {
        }
    }
    if (offset != nullptr) *offset = LastOffset;
    return LastOutcome;
}

extern "C" SNTP_API void SNTP_CALL SNTPCleanUp(void) {
    if (queryRunning) {
        cleanupDeferred = true;  // takes effect as the running query returns
        return;
    }
    try {
        ReleaseGlobalClient();
    } catch (...) {
    }
}

extern "C" SNTP_API void SNTP_CALL setLoopFunction(SNTPLoopFunction p) { LoopFunction = p; }
