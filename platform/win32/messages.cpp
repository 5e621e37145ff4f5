// The thread message queue of Windows: message-only windows, PeekMessageA with PM_REMOVE, and
// MsgWaitForMultipleObjectsEx for the wait. A window may be destroyed from any thread, and no
// window outlives the DLL with a procedure inside it.
#include "platform/messages.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace {

// What the window procedure knows of one window. The gate is held while the window's procedure
// runs; a thread that destroys the window takes it too, so that once the window is gone no call
// of its procedure is still running elsewhere, and none starts.
struct WindowSlot {
    std::recursive_mutex gate;
    MessageWindow::Procedure* procedure;  // null once the window is gone
};

}  // namespace

struct MessageWindow::Impl {
    HWND hwnd = nullptr;
    DWORD thread = 0;
    Procedure procedure;
    std::shared_ptr<WindowSlot> slot;
};

namespace {

const char kClassName[] = "SntpClientHiddenWindow";

// Every live window of the library, by handle. The registry's mutex is never held while a
// procedure runs.
std::mutex registryMutex;
std::map<HWND, std::shared_ptr<WindowSlot>>* registry = nullptr;

std::shared_ptr<WindowSlot> FindSlot(HWND hwnd) {
    std::lock_guard<std::mutex> lock(registryMutex);
    if (registry == nullptr) return nullptr;
    auto found = registry->find(hwnd);
    return found != registry->end() ? found->second : nullptr;
}

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER) {
        if (std::shared_ptr<WindowSlot> slot = FindSlot(hwnd)) {
            std::lock_guard<std::recursive_mutex> gate(slot->gate);
            if (slot->procedure != nullptr) {
                (*slot->procedure)(message, wParam, lParam);
                return 0;
            }
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The module that holds this code: the DLL when built as one, else the program.
HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&WindowProcedure), &module);
    return module;
}

// The class's own procedure is the system's: only each window, while this code is loaded, is
// given ours. A class outlives an unloaded DLL while a window of it lives on another thread.
void RegisterWindowClass() {
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = ThisModule();
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    (void)registered;
}

bool IsOwnWindowOfCallingThread(HWND hwnd) {
    return hwnd != nullptr && IsWindow(hwnd) &&
           GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId();
}

}  // namespace

void DispatchWaitingMessages() {
    // A message carries the tick at which it was posted: one from after the start ends the pass,
    // so a stream of messages cannot keep it going.
    const DWORD start = GetTickCount();
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        const bool arrivedSince = static_cast<LONG>(message.time - start) > 0;
        if (message.message != WM_QUIT) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (arrivedSince) break;
    }
}

bool TakeQuitMessage() {
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

void WaitForMessage(std::uint32_t milliseconds) {
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

ThreadQueueId CurrentThreadQueue() { return GetCurrentThreadId(); }

void PostQuitMessageTo(ThreadQueueId thread) {
    PostThreadMessageA(static_cast<DWORD>(thread), WM_QUIT, 0, 0);
}

MessageWindow::MessageWindow(Procedure procedure) : impl_(new Impl) {
    impl_->procedure = std::move(procedure);
    impl_->thread = GetCurrentThreadId();
    impl_->slot = std::make_shared<WindowSlot>();
    impl_->slot->procedure = &impl_->procedure;
    RegisterWindowClass();
    impl_->hwnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ThisModule(), nullptr);
    if (impl_->hwnd == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        if (registry == nullptr) registry = new std::map<HWND, std::shared_ptr<WindowSlot>>;
        (*registry)[impl_->hwnd] = impl_->slot;
    }
    SetWindowLongPtrA(impl_->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProcedure));
}

void MessageWindow::Disconnect() {
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        if (registry != nullptr) {
            auto found = registry->find(impl_->hwnd);
            if (found != registry->end() && found->second == impl_->slot) registry->erase(found);
        }
    }
    std::lock_guard<std::recursive_mutex> gate(impl_->slot->gate);
    impl_->slot->procedure = nullptr;
}

MessageWindow::~MessageWindow() {
    Disconnect();
    HWND hwnd = impl_->hwnd;
    if (hwnd == nullptr) return;
    if (IsOwnWindowOfCallingThread(hwnd)) {
        DestroyWindow(hwnd);
    } else if (IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, nullptr) == impl_->thread) {
        // Only its own thread can destroy the window: it gets the system's procedure, which
        // needs nothing of this DLL, and closes the window when its thread next takes messages.
        // A window whose thread has ended was destroyed with it.
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
    }
}

bool MessageWindow::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return impl_->hwnd != nullptr && PostMessageA(impl_->hwnd, message, wParam, lParam) != 0;
}

std::uintptr_t MessageWindow::Handle() const {
    return reinterpret_cast<std::uintptr_t>(impl_->hwnd);
}

bool MessageWindow::OnCallingThread() const {
    // A window whose thread ended is gone with it, even if a new thread has the same number.
    return impl_->thread == GetCurrentThreadId() && (impl_->hwnd == nullptr || IsWindow(impl_->hwnd));
}

// The system owns the queue itself; what the library leaves is its window class, unregistered so
// that a later load registers it afresh (which fails, harmlessly, while a window of the class
// still lives on another thread), and its table of windows.
void ReleaseMessageQueue() {
    UnregisterClassA(kClassName, ThisModule());
    std::lock_guard<std::mutex> lock(registryMutex);
    if (registry != nullptr && registry->empty()) {
        delete registry;
        registry = nullptr;
    }
}

}  // namespace platform
