// The thread message queue of POSIX systems: one queue per thread, with windows that are handlers
// registered with it. Socket readiness, found with poll(), becomes notification messages; any other
// message is posted to it, from any thread. A queue lives as long as its thread or a window on it,
// whichever is longer, and a window may be destroyed from any thread.
#include "platform/messages.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <memory>
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

// What a queue knows of one of its windows. The gate is held while the window's procedure runs;
// a thread that destroys the window takes it too, so that once the window is gone no call of its
// procedure is still running elsewhere, and none starts.
struct WindowSlot {
    std::recursive_mutex gate;
    MessageWindow::Impl* window;  // null once the window is gone
};

}  // namespace

struct MessageWindow::Impl {
    std::shared_ptr<ThreadQueue> queue;
    std::shared_ptr<WindowSlot> slot;
    std::uint64_t id;
    Procedure procedure;
    // The socket watched for this window; the queue's mutex guards these.
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
    ~ThreadQueue() { close(wake_); }

    // The queue of the calling thread, made on first use. The thread holds one reference and each
    // window another: a thread that ends with windows left leaves its queue to them, and the last
    // one to go frees it.
    static const std::shared_ptr<ThreadQueue>& Current() {
        if (mine_ == nullptr) {
            mine_ = new std::shared_ptr<ThreadQueue>(std::make_shared<ThreadQueue>());
            pthread_setspecific(Key(), mine_);
        }
        return *mine_;
    }

    // The calling thread's queue, or null if it has none.
    static ThreadQueue* CurrentIfAny() { return mine_ != nullptr ? mine_->get() : nullptr; }

    static pthread_key_t Key() {
        static pthread_key_t key = [] {
            pthread_key_t k;
            pthread_key_create(&k, [](void* reference) {
                delete static_cast<std::shared_ptr<ThreadQueue>*>(reference);
            });
            return k;
        }();
        return key;
    }

    // Drops the calling thread's reference and forgets the thread-end hook, whose code is about
    // to be unloaded.
    static void Release() {
        if (mine_ != nullptr) {
            pthread_setspecific(Key(), nullptr);
            delete mine_;
            mine_ = nullptr;
        }
        pthread_key_delete(Key());
    }

    std::shared_ptr<WindowSlot> Add(MessageWindow::Impl* window) {
        std::lock_guard<std::mutex> lock(mutex_);
        window->id = ++lastId_;
        auto slot = std::make_shared<WindowSlot>();
        slot->window = window;
        windows_[window->id] = slot;
        return slot;
    }

    // From any thread: after this no procedure of the window runs, and its messages are gone.
    void Remove(MessageWindow::Impl* window) {
        std::shared_ptr<WindowSlot> slot;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto found = windows_.find(window->id);
            if (found == windows_.end()) return;
            slot = found->second;
            windows_.erase(found);
            DropMessagesOf(window->id, nullptr);
        }
        std::lock_guard<std::recursive_mutex> gate(slot->gate);
        slot->window = nullptr;
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
        std::shared_ptr<WindowSlot> slot;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto found = windows_.find(message.window);
            if (found == windows_.end()) return;  // the window is gone: the message goes with it
            slot = found->second;
            MessageWindow::Impl* w = slot->window;
            if (w->fd >= 0 && message.message == w->socketMessage &&
                static_cast<int>(message.wParam) == w->fd) {
                if (message.lParam == queue::kFD_READ) w->readQueued = false;
                if (message.lParam == queue::kFD_WRITE) w->writeQueued = false;
            }
        }
        std::lock_guard<std::recursive_mutex> gate(slot->gate);
        if (slot->window != nullptr)
            slot->window->procedure(message.message, message.wParam, message.lParam);
    }

    // Changes what a window's socket watch holds, under the queue's mutex.
    template <typename Change>
    void ChangeWatch(MessageWindow::Impl& window, Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change(window);
    }

    // Drops the notifications of a window's socket that still wait: they speak of a socket that
    // is gone, and its descriptor number may soon belong to another.
    void Unwatch(MessageWindow::Impl& window) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (window.fd >= 0) DropMessagesOf(window.id, &window.socketMessage);
        window.fd = -1;
        window.readArmed = window.readQueued = window.writeWanted = window.writeQueued = false;
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
        std::vector<std::uint64_t> owners;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& entry : windows_) {
                MessageWindow::Impl* w = entry.second->window;
                if (w->fd < 0) continue;
                short events = 0;
                if (w->readArmed && !w->readQueued) events |= POLLIN;
                if (w->writeWanted && !w->writeQueued) events |= POLLOUT;
                if (events == 0) continue;
                fds.push_back(pollfd{w->fd, events, 0});
                owners.push_back(entry.first);
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
            // The window may have gone, or watch another socket, since the poll began.
            auto found = windows_.find(owners[i]);
            if (found == windows_.end()) continue;
            MessageWindow::Impl* w = found->second->window;
            if (w->fd != fds[i].fd) continue;
            const short ready = fds[i].revents;
            // POLLERR and POLLHUP count as readable: the receive then reports the error.
            if ((ready & (POLLIN | POLLERR | POLLHUP)) && (fds[i].events & POLLIN) && w->readArmed) {
                w->readQueued = true;
                w->readArmed = false;
                Queue(Message{w->id, w->socketMessage, static_cast<std::uintptr_t>(w->fd),
                              queue::kFD_READ});
            }
            if ((ready & POLLOUT) && (fds[i].events & POLLOUT) && w->writeWanted) {
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

    // Removes the waiting messages of a window (of one message number, if given); the caller
    // holds the mutex.
    void DropMessagesOf(std::uint64_t window, const std::uint32_t* message) {
        for (auto it = posted_.begin(); it != posted_.end();) {
            if (it->window == window && (message == nullptr || it->message == *message))
                it = posted_.erase(it);
            else
                ++it;
        }
    }

    static thread_local std::shared_ptr<ThreadQueue>* mine_;  // the calling thread's reference
    std::mutex mutex_;
    std::deque<Message> posted_;
    std::unordered_map<std::uint64_t, std::shared_ptr<WindowSlot>> windows_;
    std::uint64_t lastId_ = 0;
    std::uint64_t lastSequence_ = 0;
    int wake_;
};

thread_local std::shared_ptr<ThreadQueue>* ThreadQueue::mine_ = nullptr;

}  // namespace

void ReleaseMessageQueue() { ThreadQueue::Release(); }

void DispatchWaitingMessages() {
    ThreadQueue& queue = *ThreadQueue::Current();
    const std::uint64_t newest = queue.Newest();
    Message message;
    while (queue.Take(message, newest)) {
        if (message.window == 0) continue;  // WM_QUIT and other thread messages are dropped
        queue.Dispatch(message);
    }
}

bool TakeQuitMessage() { return ThreadQueue::Current()->TakeQuit(); }

void WaitForMessage(std::uint32_t milliseconds) { ThreadQueue::Current()->Wait(milliseconds); }

ThreadQueueId CurrentThreadQueue() {
    return reinterpret_cast<ThreadQueueId>(ThreadQueue::Current().get());
}

void PostQuitMessageTo(ThreadQueueId thread) {
    reinterpret_cast<ThreadQueue*>(thread)->Post(Message{0, kWM_QUIT, 0, 0});
}

MessageWindow::MessageWindow(Procedure procedure) : impl_(new Impl) {
    impl_->queue = ThreadQueue::Current();
    impl_->procedure = std::move(procedure);
    impl_->slot = impl_->queue->Add(impl_.get());
}

MessageWindow::~MessageWindow() { impl_->queue->Remove(impl_.get()); }

bool MessageWindow::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return impl_->queue->Post(Message{impl_->id, message, wParam, lParam});
}

std::uintptr_t MessageWindow::Handle() const { return static_cast<std::uintptr_t>(impl_->id); }

bool MessageWindow::OnCallingThread() const {
    // The queue outlives its thread while this window lives, so no other thread's queue can have
    // its address.
    return impl_->queue.get() == ThreadQueue::CurrentIfAny();
}

void MessageWindow::Disconnect() { impl_->queue->Remove(impl_.get()); }

namespace queue {

void Watch(MessageWindow& window, int fd, std::uint32_t message) {
    MessageWindow::Impl& w = window.impl();
    w.queue->ChangeWatch(w, [&](MessageWindow::Impl& x) {
        x.fd = fd;
        x.socketMessage = message;
        x.readArmed = true;
        x.readQueued = false;
        x.writeWanted = false;
        x.writeQueued = false;
    });
}

void Rearm(MessageWindow& window) {
    window.impl().queue->ChangeWatch(window.impl(), [](MessageWindow::Impl& x) { x.readArmed = true; });
}

void WantWrite(MessageWindow& window, bool wanted) {
    window.impl().queue->ChangeWatch(window.impl(),
                                     [&](MessageWindow::Impl& x) { x.writeWanted = wanted; });
}

void Unwatch(MessageWindow& window) { window.impl().queue->Unwatch(window.impl()); }

}  // namespace queue

}  // namespace platform
