// The DLL's entry point: on an explicit unload it runs the library's handler and removes the
// window class; at process exit it does nothing, since the process takes everything with it.
#include "platform/module.h"

#include <windows.h>

#include "platform/messages.h"
#include "platform/services.h"

namespace platform {

namespace {
void (*unloadHandler)() = nullptr;
}

void SetUnloadHandler(void (*handler)()) { unloadHandler = handler; }

}  // namespace platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        if (platform::unloadHandler != nullptr) platform::unloadHandler();
        platform::ReleaseMessageQueue();
        platform::ReleaseServices();
    }
    return TRUE;
}
