// What a process holds of the system's resources, counted for tests that look for leaks: open
// descriptors (POSIX) and the library's hidden windows (Windows). Each is 0 where it does not apply.
#pragma once

namespace testing_support {

int OpenDescriptors();
int HiddenWindows();

}  // namespace testing_support
