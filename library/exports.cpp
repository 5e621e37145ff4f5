// The exported functions: the global client, who may use it when, and what unloading does.
#include <mutex>

#include "library/outcomes.h"
#include "library/tsntp.h"
#include "platform/cancel.h"
#include "platform/module.h"

TSNTP* GlobalClient = nullptr;
SNTPLoopFunction LoopFunction = nullptr;

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
    client->BindOutcomeHandlers();
    client->Busy = false;
    GlobalClient = client;
}

extern "C" SNTP_CATCHES_THREAD_CANCELLATION SNTP_API std::uint16_t SNTP_CALL
QueryServer(const char* host, double* offset) {
    // Called from a message that a running query dispatched, or from another thread while one
    // runs: the running query is left alone, as Windows Sockets 1.1 refuses a second blocking call.
    if (!TryUseClient()) {
        if (offset != nullptr) *offset = outcome::kFailureOffset;
        return outcome::kSocketError;
    }
    // The outcome is kept here, so that a clean-up deferred to the end of the call cannot take it.
    QueryOutcome result{outcome::kSocketError, outcome::kFailureOffset};
    {
        ClientUse use;
        try {
            if (GlobalClient == nullptr) CreateGlobalClient();
            result = GlobalClient->Query(host);
        } catch (const platform::ThreadCancellation&) {
            throw;
        } catch (...) {
            // Only a host's own window procedure, dispatched by the wait, can get here; the
            // sockets are closed as the wait is left.
            if (GlobalClient != nullptr) GlobalClient->Outcome = result;
        }
    }
    if (offset != nullptr) *offset = result.offset;
    return result.code;
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
