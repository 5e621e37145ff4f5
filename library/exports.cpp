// The exported functions and the blocking driver that runs one query on the caller's thread.
#include <mutex>

#include "library/outcomes.h"
#include "library/tsntp.h"
#include "platform/cancel.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/module.h"

TSNTP* GlobalClient = nullptr;
SNTPLoopFunction LoopFunction = nullptr;
std::uint16_t LastOutcome = 0;
double LastOffset = 0.0;

namespace {

constexpr std::int32_t kLibraryTimeout = 4000;  // milliseconds

// One QueryServer or SNTPCleanUp uses the client at a time, whichever thread it comes from.
std::mutex stateMutex;
bool clientInUse = false;      // a QueryServer or SNTPCleanUp is on a stack
bool cleanupDeferred = false;  // SNTPCleanUp came while the client was in use

bool TryUseClient() {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (clientInUse) return false;
    clientInUse = true;
    return true;
}

SNTP_CATCHES_THREAD_CANCELLATION void ReleaseGlobalClient() {
    if (GlobalClient == nullptr) return;
    try {
        GlobalClient->ReleaseSockets();
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
    }
    delete GlobalClient;
    GlobalClient = nullptr;
}

// Ends the use of the client, after a clean-up that came meanwhile. Also runs as a cancelled
// thread leaves QueryServer, so that the next call finds the client free.
void EndUseOfClient() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (!cleanupDeferred) {
                clientInUse = false;
                return;
            }
            cleanupDeferred = false;
        }
        ReleaseGlobalClient();
    }
}

struct ClientUse {
    ~ClientUse() { EndUseOfClient(); }
};

// Closes the client's sockets when the wait is left in any way, a cancelled thread included.
struct SocketsClosedOnExit {
    TSNTP& client;
    ~SocketsClosedOnExit() {
        try {
            client.CloseSockets();
        } catch (...) {
        }
    }
};

// The wait of one query: pump the thread's messages, which delivers the sockets' notifications,
// and sleep on the queue between passes until a handler has recorded an outcome.
SNTP_CATCHES_THREAD_CANCELLATION void RunQuery(TSNTP& client, const char* host) {
    // Sockets made on another thread send their notifications there: this thread gets its own.
    if (!client.SocketsOnCallingThread()) client.ReleaseSockets();
    SocketsClosedOnExit closed{client};
    client.Busy = true;
    DrainMessages();
    client.HostAddr = host != nullptr ? host : "";
    const std::uint32_t start = platform::GetTickCount();
    const auto limit = static_cast<std::uint32_t>(client.Timeout());
    try {
        client.StartQuery();
    } catch (const platform::ThreadCancellation&) {
        throw;
    } catch (...) {
        // Windows Sockets could not start, or this machine's addresses could not be read.
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

extern "C" SNTP_CATCHES_THREAD_CANCELLATION SNTP_API std::uint16_t SNTP_CALL QueryServer(const char* host, double* offset) {
    // Called from a message that a running query dispatched, or from another thread while one
    // runs: the running query is left alone, as Windows Sockets 1.1 refuses a second blocking call.
    if (!TryUseClient()) {
        if (offset != nullptr) *offset = outcome::kFailureOffset;
        return outcome::kSocketError;
    }
    std::uint16_t code = outcome::kSocketError;
    double result = outcome::kFailureOffset;
    {
        ClientUse use;
        try {
            if (GlobalClient == nullptr) CreateGlobalClient();
            RunQuery(*GlobalClient, host);
            code = LastOutcome;
            result = LastOffset;
        } catch (const platform::ThreadCancellation&) {
            throw;
        } catch (...) {
            // Only a host's own window procedure, dispatched by the wait, can get here.
            LastOutcome = code;
            LastOffset = result;
        }
    }
    if (offset != nullptr) *offset = result;
    return code;
}

extern "C" SNTP_API void SNTP_CALL SNTPCleanUp(void) {
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        if (clientInUse) {
            cleanupDeferred = true;  // takes effect as the running call returns
            return;
        }
        clientInUse = true;
    }
    ClientUse use;
    ReleaseGlobalClient();
}

extern "C" SNTP_API void SNTP_CALL setLoopFunction(SNTPLoopFunction p) { LoopFunction = p; }
