// The calling thread's message queue, on both systems: the order of posted messages, windows that
// are gone, socket notifications announced once until read and dropped with their socket, a wait
// that another thread wakes, WM_QUIT, and a pass that takes only what waited when it began.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/address.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/udp.h"

namespace {

using platform::kWM_USER;
using platform::MessageWindow;
using Clock = std::chrono::steady_clock;

// A window that notes every message it is given.
struct Recorder {
    std::vector<std::uint32_t> messages;
    std::vector<std::intptr_t> lParams;
    MessageWindow window{[this](std::uint32_t m, std::uintptr_t, std::intptr_t l) {
        messages.push_back(m);
        lParams.push_back(l);
    }};
};

// A datagram socket on 127.0.0.1 whose notifications go to a recorder's window, and a socket that
// sends to it.
struct WatchedSocket {
    Recorder recorder;
    platform::udp::Handle receiver = platform::udp::Open();
    platform::udp::Handle sender = platform::udp::Open();
    WatchedSocket() {
        const platform::IPv4 loopback = platform::IPv4FromBytes(127, 0, 0, 1);
        platform::udp::Bind(receiver, loopback, 0);
        platform::udp::Bind(sender, loopback, 0);
        platform::udp::SelectNotifications(receiver, recorder.window);
    }
    ~WatchedSocket() {
        if (receiver != platform::udp::kInvalid) platform::udp::Close(receiver, recorder.window);
        platform::udp::Close(sender, recorder.window);
    }
    void Send() {
        platform::udp::SendTo(sender, "x", 1, platform::IPv4FromBytes(127, 0, 0, 1),
                              platform::udp::LocalPort(receiver));
    }
    int Receive() {
        char buffer[8];
        TSockAddrIn from{};
        int length = sizeof from;
        return platform::udp::ReceiveFrom(receiver, recorder.window, buffer, sizeof buffer, from,
                                          length);
    }
    int ReadNotifications() const {
        int n = 0;
        for (std::size_t i = 0; i < recorder.messages.size(); ++i)
            n += recorder.messages[i] == platform::udp::kSocketMessage &&
                 (recorder.lParams[i] & 0xFFFF & platform::udp::kReadEvent);
        return n;
    }
};

// Takes messages for `ms`, sleeping on the queue in between.
void PumpFor(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        platform::DispatchWaitingMessages();
        platform::WaitForMessage(10);
    }
}

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(platform::system::SocketsStartup(), 0); }
    void TearDown() override {
        platform::DispatchWaitingMessages();
        platform::system::SocketsCleanup();
    }
};

TEST_F(QueueTest, Behaviours) {
    const struct {
        const char* name;
        std::function<void()> check;
    } cases[] = {
        {"posted messages come in the order they were posted",
         [] {
             Recorder r;
             for (std::uint32_t m : {kWM_USER + 3, kWM_USER + 1, kWM_USER + 2})
                 ASSERT_TRUE(r.window.Post(m, 0, 0));
             platform::DispatchWaitingMessages();
             EXPECT_EQ(r.messages, (std::vector<std::uint32_t>{kWM_USER + 3, kWM_USER + 1,
                                                               kWM_USER + 2}));
         }},
        {"a window that is gone takes nothing, neither what waited nor what comes",
         [] {
             std::vector<std::uint32_t> seen;
             auto window = std::make_unique<MessageWindow>(
                 [&](std::uint32_t m, std::uintptr_t, std::intptr_t) { seen.push_back(m); });
             ASSERT_TRUE(window->Post(kWM_USER + 1, 0, 0));
             window.reset();
             platform::DispatchWaitingMessages();
             EXPECT_TRUE(seen.empty());
         }},
        {"a waiting datagram is announced once until it is read, then the next one again",
         [] {
             WatchedSocket s;
             s.Send();
             s.Send();
             PumpFor(200);
             EXPECT_EQ(s.ReadNotifications(), 1) << "two wait, one notice until a read";
             EXPECT_EQ(s.Receive(), 1);
             PumpFor(200);
             EXPECT_EQ(s.ReadNotifications(), 2) << "the second one, announced after the read";
         }},
        {"a closed socket's notices are dropped, even those already waiting",
         [] {
             WatchedSocket s;
             s.Send();
             platform::WaitForMessage(200);  // the notice waits now
             platform::udp::Close(s.receiver, s.recorder.window);
             s.receiver = platform::udp::kInvalid;
             PumpFor(100);
             EXPECT_EQ(s.ReadNotifications(), 0);
         }},
        {"a post from another thread wakes the wait at once",
         [] {
             Recorder r;
             std::thread poster([&] {
                 std::this_thread::sleep_for(std::chrono::milliseconds(100));
                 r.window.Post(kWM_USER + 5, 0, 0);
             });
             const auto start = Clock::now();
             platform::WaitForMessage(5000);
             const auto waited = Clock::now() - start;
             poster.join();
             EXPECT_LT(waited, std::chrono::milliseconds(2000));
             platform::DispatchWaitingMessages();
             EXPECT_EQ(r.messages, std::vector<std::uint32_t>{kWM_USER + 5});
         }},
        {"WM_QUIT is taken and dropped by a pass, and reaches no window",
         [] {
             Recorder r;
             platform::PostQuitMessageTo(platform::CurrentThreadQueue());
             ASSERT_TRUE(r.window.Post(kWM_USER + 1, 0, 0));
             platform::DispatchWaitingMessages();
             EXPECT_FALSE(platform::TakeQuitMessage()) << "it was taken";
             EXPECT_EQ(r.messages, std::vector<std::uint32_t>{kWM_USER + 1});
         }},
        {"a pass takes what waited when it began, not what its messages post",
         [] {
             int handled = 0;
             std::unique_ptr<MessageWindow> window;
             window = std::make_unique<MessageWindow>([&](std::uint32_t, std::uintptr_t, std::intptr_t) {
                 ++handled;
                 window->Post(kWM_USER + 1, 0, 0);  // work done in small steps
             });
             window->Post(kWM_USER + 1, 0, 0);
             const auto start = Clock::now();
             platform::DispatchWaitingMessages();
             EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500)) << "the pass ended";
             EXPECT_GE(handled, 1);
             window.reset();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.check();
        platform::DispatchWaitingMessages();
    }
}

}  // namespace
