// The calling thread's message queue: hidden windows that receive messages, taking and dispatching
// every waiting message, and a wait that sleeps until a message arrives or a time limit passes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

constexpr std::uint32_t kWM_QUIT = 18;
constexpr std::uint32_t kWM_USER = 0x0400;

// Removes and dispatches every message that was waiting for the calling thread, for any of its
// windows, when the call began, until none of them is left; a message that arrives meanwhile is
// left for the next call (on Windows, one that arrived within the tick may still be taken, and at
// most one later one). So a window that posts itself a message each time it handles one cannot
// hold the caller. A WM_QUIT is removed and dropped. Never waits.
void DispatchWaitingMessages();

// Removes a WM_QUIT waiting for the calling thread and tells whether there was one; the other
// messages stay where they are. A host's message loop ends on it.
bool TakeQuitMessage();

// Sleeps until a message waits for the calling thread or `milliseconds` have passed.
void WaitForMessage(std::uint32_t milliseconds);

// Frees what the message queue keeps for the library (POSIX: the calling thread's queue, once it
// has no window left; Windows: the window class); for the library's last act as it is unloaded.
void ReleaseMessageQueue();

// The identity of a thread's message queue, for posting to it from any thread.
using ThreadQueueId = std::uintptr_t;
ThreadQueueId CurrentThreadQueue();
void PostQuitMessageTo(ThreadQueueId thread);

// A hidden window on the thread that creates it. Its procedure runs when one of its messages is
// dispatched on that thread. It may be posted to, and destroyed, from any thread: destroyed from
// another thread, its procedure is not called again and the window itself is taken down by its
// own thread (Windows destroys a thread's windows when the thread ends, and only the thread can
// destroy them while it runs).
class MessageWindow {
public:
    using Procedure = std::function<void(std::uint32_t message, std::uintptr_t wParam,
                                         std::intptr_t lParam)>;
    explicit MessageWindow(Procedure procedure);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    // The system's handle of the window (an HWND on Windows).
    std::uintptr_t Handle() const;
    // Whether the calling thread is the one whose messages reach this window.
    bool OnCallingThread() const;
    // Stops calling the procedure, from any thread; when this returns, no call of it is running
    // on another thread. The destructor does it too.
    void Disconnect();

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
