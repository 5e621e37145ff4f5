// The millisecond tick and the local wall clock, as the rest of the system reads them.
#pragma once

#include <cstdint>

namespace platform {

// The unsigned 32-bit count of milliseconds since system start.
std::uint32_t GetTickCount();
// The local calendar date and time of day, to the millisecond, as a day value.
double LocalDateTime();

}  // namespace platform
