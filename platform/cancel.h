// A thread that is cancelled (pthread_cancel) leaves each function on its stack as if an exception
// passed through it. That exception must go on: a handler that catches everything and drops it
// makes the runtime abort the whole process. Catch it first and throw it again.
#pragma once

#include <cxxabi.h>

namespace platform {

using ThreadCancellation = abi::__forced_unwind;

}  // namespace platform

// The handler binds its reference to no object, which UndefinedBehaviorSanitizer's null check
// reports although the runtime means it so; a function that catches ThreadCancellation says so.
#define SNTP_CATCHES_THREAD_CANCELLATION __attribute__((no_sanitize("null")))
