// The thread message queue of POSIX systems: one queue per thread, with windows that are handlers
// registered with it. Socket readiness, found with poll(), becomes notification messages; any other
// message is posted to it, from any thread.
#include "platform/messages.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/posix/queue.h"

namespace platform {

namespace {

struct Message {
    std::uint64_t window;  // 0 for a message to the thread itself
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::uint64_t sequence = 0;  // the order of arrival, set as the message is queued
};

class ThreadQueue;

}  // namespace

struct MessageWindow::Impl {
    ThreadQueue* queue;
    std::uint64_t id;
    Procedure procedure;
    int fd = -1;
    std::uint32_t socketMessage = 0;
    bool readArmed = false;
    bool readQueued = false;
    bool writeWanted = false;
    bool writeQueued = false;
};

namespace {

class ThreadQueue {
public:
    ThreadQueue() : wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    // The queue of the calling thread. When the thread ends, the queue goes with it unless a
    // window still refers to it; for the main thread no such destructor runs, so code that runs
    // at exit may still use its queue.
    static ThreadQueue& Current() {
        if (mine_ == nullptr) {
            mine_ = new ThreadQueue;
            pthread_setspecific(Key(), mine_);
        }
        return *mine_;
    }

    static pthread_key_t Key() {
        static pthread_key_t key = [] {
            pthread_key_t k;
            pthread_key_create(&k, [](void* q) {
                auto* queue = static_cast<ThreadQueue*>(q);
                if (queue->Unused()) delete queue;
            });
            return k;
        }();
        return key;
    }

    // Frees the calling thread's queue if no window is left, and forgets the thread-end hook,
    // whose code is about to be unloaded.
    static void Release() {
        if (mine_ != nullptr && mine_->Unused()) {
            pthread_setspecific(Key(), nullptr);
            delete mine_;
            mine_ = nullptr;
        }
        pthread_key_delete(Key());
    }

    ~ThreadQueue() { close(wake_); }

    bool Unused() {
        std::lock_guard<std::mutex> lock(mutex_);
        return windows_.empty();
    }

    std::uint64_t Add(MessageWindow::Impl* window) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uint64_t id = ++lastId_;
        windows_[id] = window;
        return id;
    }

    void Remove(std::uint64_t id) {
        std::lock_guard<std::mutex> lock(mutex_);
        windows_.erase(id);
    }

    bool Post(const Message& message) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (message.window != 0 && windows_.count(message.window) == 0) return false;
            Queue(message);
        }
        const std::uint64_t one = 1;
        (void)!write(wake_, &one, sizeof one);
        return true;
    }

    // The sequence number of the newest waiting message, after turning ready sockets into
    // notifications: a pass that takes messages up to it takes what waits now and nothing later.
    std::uint64_t Newest() {
        Harvest(0);
        std::lock_guard<std::mutex> lock(mutex_);
        return lastSequence_;
    }

    // Takes the oldest waiting message if it arrived no later than `newest`.
    bool Take(Message& message, std::uint64_t newest) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (posted_.empty() || posted_.front().sequence > newest) return false;
        message = posted_.front();
        posted_.pop_front();
        return true;
    }

    void Dispatch(const Message& message) {
        MessageWindow::Impl* window = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto found = windows_.find(message.window);
            if (found == windows_.end()) return;  // the window is gone: the message goes with it
            window = found->second;
        }
        if (window->fd >= 0 && message.message == window->socketMessage &&
            static_cast<int>(message.wParam) == window->fd) {
            if (message.lParam == queue::kFD_READ) window->readQueued = false;
            if (message.lParam == queue::kFD_WRITE) window->writeQueued = false;
        }
        window->procedure(message.message, message.wParam, message.lParam);
    }

    // Drops the notifications of a window that are still waiting: they speak of a socket that is
    // gone, and its descriptor number may soon belong to another.
    void Purge(std::uint64_t window, std::uint32_t message) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = posted_.begin(); it != posted_.end();) {
            if (it->window == window && it->message == message)
                it = posted_.erase(it);
            else
                ++it;
        }
    }

    bool TakeQuit() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = posted_.begin(); it != posted_.end(); ++it) {
            if (it->window == 0 && it->message == kWM_QUIT) {
                posted_.erase(it);
                return true;
            }
        }
        return false;
    }

    void Wait(std::uint32_t milliseconds) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!posted_.empty()) return;
        }
        Harvest(milliseconds > 0x7FFFFFFFu ? -1 : static_cast<int>(milliseconds));
    }

private:
    // Polls the watched sockets and the wake-up descriptor, and queues one notification for each
    // socket that is ready and has none waiting.
    void Harvest(int timeout) {
        std::vector<pollfd> fds;
        std::vector<MessageWindow::Impl*> owners;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& entry : windows_) {
                MessageWindow::Impl* w = entry.second;
                if (w->fd < 0) continue;
                short events = 0;
                if (w->readArmed && !w->readQueued) events |= POLLIN;
                if (w->writeWanted && !w->writeQueued) events |= POLLOUT;
                if (events == 0) continue;
                fds.push_back(pollfd{w->fd, events, 0});
                owners.push_back(w);
            }
        }
        fds.push_back(pollfd{wake_, POLLIN, 0});
        if (poll(fds.data(), fds.size(), timeout) <= 0) return;
        if (fds.back().revents & POLLIN) {
            std::uint64_t count;
            (void)!read(wake_, &count, sizeof count);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            MessageWindow::Impl* w = owners[i];
            const short ready = fds[i].revents;
            // POLLERR and POLLHUP count as readable: the receive then reports the error.
            if ((ready & (POLLIN | POLLERR | POLLHUP)) && (fds[i].events & POLLIN)) {
                w->readQueued = true;
                w->readArmed = false;
                Queue(Message{w->id, w->socketMessage, static_cast<std::uintptr_t>(w->fd),
                              queue::kFD_READ});
            }
            if ((ready & POLLOUT) && (fds[i].events & POLLOUT)) {
                w->writeQueued = true;
                Queue(Message{w->id, w->socketMessage, static_cast<std::uintptr_t>(w->fd),
                              queue::kFD_WRITE});
            }
        }
    }

    // Appends a message; the caller holds the mutex.
    void Queue(Message message) {
        message.sequence = ++lastSequence_;
        posted_.push_back(message);
    }

    static thread_local ThreadQueue* mine_;  // the calling thread's queue
    std::mutex mutex_;
    std::deque<Message> posted_;
    std::unordered_map<std::uint64_t, MessageWindow::Impl*> windows_;
    std::uint64_t lastId_ = 0;
    std::uint64_t lastSequence_ = 0;
    int wake_;
};

thread_local ThreadQueue* ThreadQueue::mine_ = nullptr;

}  // namespace

void ReleaseMessageQueue() { ThreadQueue::Release(); }

void DispatchWaitingMessages() {
    ThreadQueue& queue = ThreadQueue::Current();
    const std::uint64_t newest = queue.Newest();
    Message message;
    while (queue.Take(message, newest)) {
        if (message.window == 0) continue;  // WM_QUIT and other thread messages are dropped
        queue.Dispatch(message);
    }
}

bool TakeQuitMessage() { return ThreadQueue::Current().TakeQuit(); }

void WaitForMessage(std::uint32_t milliseconds) { ThreadQueue::Current().Wait(milliseconds); }

ThreadQueueId CurrentThreadQueue() {
    return reinterpret_cast<ThreadQueueId>(&ThreadQueue::Current());
}

void PostQuitMessageTo(ThreadQueueId thread) {
    reinterpret_cast<ThreadQueue*>(thread)->Post(Message{0, kWM_QUIT, 0, 0});
}

MessageWindow::MessageWindow(Procedure procedure) : impl_(new Impl) {
    impl_->queue = &ThreadQueue::Current();
    impl_->procedure = std::move(procedure);
    impl_->id = impl_->queue->Add(impl_.get());
}

MessageWindow::~MessageWindow() { impl_->queue->Remove(impl_->id); }

bool MessageWindow::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return impl_->queue->Post(Message{impl_->id, message, wParam, lParam});
}

std::uintptr_t MessageWindow::Handle() const { return static_cast<std::uintptr_t>(impl_->id); }

namespace queue {

void Watch(MessageWindow& window, int fd, std::uint32_t message) {
    MessageWindow::Impl& w = window.impl();
    w.fd = fd;
    w.socketMessage = message;
    w.readArmed = true;
    w.readQueued = false;
    w.writeWanted = false;
    w.writeQueued = false;
}

void Rearm(MessageWindow& window) { window.impl().readArmed = true; }

void WantWrite(MessageWindow& window, bool wanted) { window.impl().writeWanted = wanted; }

void Unwatch(MessageWindow& window) {
    MessageWindow::Impl& w = window.impl();
    if (w.fd >= 0) w.queue->Purge(w.id, w.socketMessage);
    w.fd = -1;
    w.readArmed = w.readQueued = w.writeWanted = w.writeQueued = false;
}

}  // namespace queue

}  // namespace platform
