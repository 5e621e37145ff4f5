// The library's client: a TSNTPClient whose events record the outcome of its query, and the wait
// that runs one query to its end on the calling thread.
#pragma once

#include <cstdint>

#include "library/sntpclient.h"
#include "sntp/client.h"

// What one query ended in: the outcome code and the offset in days (-1000.0 on every failure).
struct QueryOutcome {
    std::uint16_t code = 0;
    double offset = 0.0;
};

// TSNTP turns the client's events into its outcome record.
class TSNTP : public TSNTPClient {
public:
    using TSNTPClient::TSNTPClient;

    bool Busy = false;  // the wait goes on while this holds
    // Written by the handler that ran last, always both fields; nothing resets it.
    QueryOutcome Outcome;

    // Binds the five events to the handlers below.
    void BindOutcomeHandlers();
    void RecordReply(TObject* Sender, std::uint16_t Error);         // 0, or 3 for an unusable reply
    void RecordTimeout(TObject* Sender);                             // 1
    void RecordWinsockError(TObject* Sender, std::uint16_t Error);  // 2, unless the listening socket
    void RecordResolveError(TObject* Sender);                        // 3
    void RecordReceiveError(TObject* Sender);                        // 3

    // Runs one query of `host` to its end on the calling thread: pumps the thread's messages, which
    // delivers the sockets' notifications, and sleeps on its queue between passes until a handler
    // has recorded an outcome or the limit has passed. Returns with both sockets closed.
    QueryOutcome Query(const char* host);

private:
    void Record(std::uint16_t code, double offset);
};

// The state that lives for the whole process.
extern TSNTP* GlobalClient;
extern SNTPLoopFunction LoopFunction;

// Creates the global client with the library's settings: server port "123", a 4000 ms limit, the
// outcome handlers bound.
void CreateGlobalClient();
