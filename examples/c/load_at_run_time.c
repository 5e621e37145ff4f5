/* Loads the library at run time, as host programs of the old contract do, and finds its
 * functions by name and, on Windows, by ordinal (1 QueryServer ... 5 QueryServerEx,
 * 6 SNTPReasonText). Usage: load_at_run_time */
#include <stdio.h>

#include "sntpclient.h"

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Module;
static Module Load(void) { return LoadLibraryA("sntpclient.dll"); }
static void* Find(Module m, const char* name) { return (void*)GetProcAddress(m, name); }
static void* FindOrdinal(Module m, int ordinal) {
    return (void*)GetProcAddress(m, MAKEINTRESOURCEA(ordinal));
}
static void Unload(Module m) { FreeLibrary(m); }
#else
#include <dlfcn.h>
typedef void* Module;
static Module Load(void) { return dlopen("libsntpclient.so.1", RTLD_NOW); }
static void* Find(Module m, const char* name) { return dlsym(m, name); }
static void Unload(Module m) { dlclose(m); }
#endif

typedef uint16_t(SNTP_CALL* QueryServerFunction)(const char*, double*);
typedef const char*(SNTP_CALL* ReasonTextFunction)(uint16_t);
typedef uint8_t(SNTP_CALL* IsConnectedFunction)(void);
typedef void(SNTP_CALL* CleanUpFunction)(void);

int main(void) {
    Module library = Load();
    if (library == NULL) {
        fprintf(stderr, "cannot load the library\n");
        return 1;
    }
    QueryServerFunction query = (QueryServerFunction)Find(library, "QueryServer");
    ReasonTextFunction reasonText = (ReasonTextFunction)Find(library, "SNTPReasonText");
    IsConnectedFunction isConnected = (IsConnectedFunction)Find(library, "isConnected");
    CleanUpFunction cleanUp = (CleanUpFunction)Find(library, "SNTPCleanUp");
    if (!query || !reasonText || !isConnected || !cleanUp) {
        fprintf(stderr, "a function is missing\n");
        return 1;
    }
#ifdef _WIN32
    if (FindOrdinal(library, 1) != (void*)query || FindOrdinal(library, 6) != (void*)reasonText) {
        fprintf(stderr, "the ordinals do not match the names\n");
        return 1;
    }
    printf("found by name and by ordinal\n");
#else
    printf("found by name\n");
#endif
    double offset = 0;
    const uint16_t outcome = query("", &offset); /* empty text: 3 at once, no network */
    printf("QueryServer(\"\"): %u, %.1f; reason 7 reads \"%s\"; isConnected %u\n", outcome, offset,
           reasonText(7), isConnected());
    cleanUp();
    Unload(library);
    return outcome == 3 ? 0 : 1;
}
