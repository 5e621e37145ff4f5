// The thread message queue of Windows: message-only windows, PeekMessageA with PM_REMOVE, and
// MsgWaitForMultipleObjectsEx for the wait.
#include "platform/messages.h"

#include <windows.h>

namespace platform {

struct MessageWindow::Impl {
    HWND hwnd = nullptr;
    Procedure procedure;
};

namespace {

const char kClassName[] = "SntpClientHiddenWindow";

LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER) {
        auto* impl = reinterpret_cast<MessageWindow::Impl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (impl != nullptr) {
            impl->procedure(message, wParam, lParam);
            return 0;
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

void RegisterWindowClass() {
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = WindowProcedure;
        wc.hInstance = ThisModule();
        wc.lpszClassName = kClassName;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    (void)registered;
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

void ReleaseMessageQueue() {}  // the system owns the queue

ThreadQueueId CurrentThreadQueue() { return GetCurrentThreadId(); }

void PostQuitMessageTo(ThreadQueueId thread) {
    PostThreadMessageA(static_cast<DWORD>(thread), WM_QUIT, 0, 0);
}

MessageWindow::MessageWindow(Procedure procedure) : impl_(new Impl) {
    impl_->procedure = std::move(procedure);
    RegisterWindowClass();
    impl_->hwnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ThisModule(), nullptr);
    if (impl_->hwnd != nullptr)
        SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
}

MessageWindow::~MessageWindow() {
    if (impl_->hwnd != nullptr) {
        SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
        DestroyWindow(impl_->hwnd);
    }
}

bool MessageWindow::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    return impl_->hwnd != nullptr && PostMessageA(impl_->hwnd, message, wParam, lParam) != 0;
}

std::uintptr_t MessageWindow::Handle() const {
    return reinterpret_cast<std::uintptr_t>(impl_->hwnd);
}

// Called when the library is unloaded, so that a later load registers the class afresh with its
// own window procedure.
void UnregisterWindowClass() { UnregisterClassA(kClassName, ThisModule()); }

}  // namespace platform
