// The program from its command line to its exit status.
#pragma once

namespace ombrin {

// Exit statuses. A failed installation is 1 so that callers can branch on it.
inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitInstallFailed = 1;
inline constexpr int kExitNoArguments = -1;
inline constexpr int kExitIncomplete = -2;

// Sorts the arguments, prints the usage text or carries out the installation,
// writes out everything held for standard output, and returns the exit status.
int RunCommand(int argc, const wchar_t* const* argv);

}  // namespace ombrin
