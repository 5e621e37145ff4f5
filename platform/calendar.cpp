// The calendar conversion: days from 1899-12-30 by the proleptic Gregorian calendar, and the time
// of day, added in extended precision.
#include "platform/calendar.h"

#include "platform/fpu.h"

namespace platform {

namespace {
// Days from 1899-12-30 to the given proleptic Gregorian date.
long DaysSince18991230(int year, int month, int day) {
    // Shift the year to start in March so that the leap day falls at its end.
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int monthFromMarch = month > 2 ? month - 3 : month + 9;
    const int dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long daysSince1970 = static_cast<long>(era) * 146097 + dayOfEra - 719468;
    return daysSince1970 + 25569;  // 1970-01-01 is day 25569
}

// Called while the precision scope holds, so that the compiler cannot move it outside.
__attribute__((noinline)) double DayValue(long days, int milliseconds) {
    const double time = RoundToDouble(static_cast<long double>(milliseconds) / 86400000.0L);
    return RoundToDouble(static_cast<long double>(days) + time);
}
}  // namespace

double DayValueFromCivil(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    // The host may have set the x87 unit to single precision, too coarse for a day value.
    ExtendedPrecisionScope extended;
    return DayValue(DaysSince18991230(year, month, day),
                    hour * 3600000 + minute * 60000 + second * 1000 + millisecond);
}

}  // namespace platform
