// Runs the library's unload handler when the shared object is unloaded. A shared object cannot
// tell dlclose from the end of the process, so it runs at exit too; nothing it touches has been
// destroyed by then (the main thread's message queue and the service tables are freed last, here).
#include "platform/module.h"

#include "platform/messages.h"
#include "platform/services.h"

namespace platform {

namespace {
void (*unloadHandler)() = nullptr;

__attribute__((destructor)) void RunUnloadHandler() {
    if (unloadHandler != nullptr) unloadHandler();
    ReleaseMessageQueue();
    ReleaseServices();
}
}  // namespace

void SetUnloadHandler(void (*handler)()) { unloadHandler = handler; }

}  // namespace platform
