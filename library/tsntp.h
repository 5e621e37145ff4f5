// The library's client class, its outcome handlers, and the state that lives for the whole process.
#pragma once

#include <cstdint>

#include "library/sntpclient.h"
#include "sntp/client.h"

// TSNTP turns the client's events into the outcome record: a code and an offset in days.
class TSNTP : public TSNTPClient {
public:
    using TSNTPClient::TSNTPClient;

    bool Busy = false;  // QueryServer waits while this holds

    void RecordReply(TObject* Sender, std::uint16_t Error);
    void RecordTimeout(TObject* Sender);
    void RecordWinsockError(TObject* Sender, std::uint16_t Error);
    void RecordResolveError(TObject* Sender);

    // Writes both fields of the outcome record and ends the wait.
    void Record(std::uint16_t code, double offset);
};

extern TSNTP* GlobalClient;
extern SNTPLoopFunction LoopFunction;
extern std::uint16_t LastOutcome;
extern double LastOffset;

// Creates the global client with the library's settings.
void CreateGlobalClient();
// Takes and dispatches every waiting message of the calling thread; WM_QUIT is dropped.
void DrainMessages();
