// Sorting the command line into an installation request.
#pragma once

namespace ombrin {

// Both texts live in buffers of the platform's path-length limit; a text fills at
// most 259 characters so that its terminator always fits.
inline constexpr int kTextCapacity = 260;

enum class PositionalCount { None, One, TwoOrMore };

struct InstallRequest {
    bool ForceInstall = false;
    bool SilentInstall = false;
    bool ClassInstall = false;
    wchar_t HardwareId[kTextCapacity] = {};
    wchar_t FullInfPath[kTextCapacity] = {};
    PositionalCount Positionals = PositionalCount::None;
};

enum class SortOutcome {
    Complete,         // two texts: the installation can run
    NoArguments,      // nothing after the program's name
    Incomplete,       // fewer than two positional arguments
    ArgumentTooLong,  // an argument of kTextCapacity characters or more
};

// One pass over argv[1] .. argv[argc - 1]; argv[0] is never examined. The
// switches "/f", "/s" and "/c" match whole arguments, ASCII letters compared
// without case; every other argument is positional: the first one is the
// hardware ID and each further one replaces the INF path.
SortOutcome SortArguments(int argc, const wchar_t* const* argv, InstallRequest& request);

// Length of `text` when it is shorter than `limit` characters, else `limit`.
int BoundedLength(const wchar_t* text, int limit);

}  // namespace ombrin
