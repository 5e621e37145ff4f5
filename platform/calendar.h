// The calendar conversion of the wall clock: a civil date and time as a day value (days since
// 1899-12-30 00:00, the fraction the time of day).
#pragma once

namespace platform {

// The day value of a proleptic Gregorian date and time, to the millisecond, with no time-zone
// conversion. Carried in extended precision whatever precision the host set.
double DayValueFromCivil(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

}  // namespace platform
