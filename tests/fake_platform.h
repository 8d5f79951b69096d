// A platform that records every call with its arguments, in one log, and answers
// from a script that each test sets up. Reset() restores the defaults: every
// call succeeds, standard output is a file, no console can be opened.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform.h"

namespace fake {

// One round of the key check as the console answers it.
struct ConsolePoll {
    bool CountSucceeds = true;
    uint32_t Count = 0;
    bool PeekSucceeds = true;
    std::vector<ombrin::platform::InputRecord> Records;
    // The number of records the peek reports, when it is not the number it hands over.
    int ReportedCount = -1;
    // The most records one peek can hand over; a peek that asks for more fails,
    // as on consoles that limit one transfer to about 64 KB.
    uint32_t PeekLimit = UINT32_MAX;
};

struct Script {
    ombrin::platform::CallResult InstallClass{true, 0};
    ombrin::platform::CallResult UpdateDriver{true, 0};
    bool SetsRebootRequired = false;
    std::map<uint32_t, std::wstring> SystemTexts;  // codes the system has a text for
    std::wstring CurrentDirectory = L"C:\\work\\";
    bool FullPathFails = false;
    ombrin::platform::FileType StandardOutput = ombrin::platform::FileType::Disk;
    // GetConsoleWindow gives a handle, IsWindow holds for it, the window station is visible.
    bool ConsoleHasWindow = true;
    bool WindowIsLive = true;
    bool StationVisible = true;
    bool ConsoleOpens = false;
    // Whether an interrupt has been requested; it becomes true while the first
    // call whose log entry starts with InterruptDuring is made.
    bool Interrupted = false;
    std::string InterruptDuring;
    std::deque<ConsolePoll> Polls;  // answered in order; afterwards no input is pending
    int YieldLimit = 1000;          // a pause that yields more often than this is stuck
};

extern Script script;
extern std::vector<std::string> calls;  // e.g. "UpdateDriver(ROOT\\X, C:\\a.inf, 0x00000001)"
extern std::string output;              // every byte written to standard output
extern std::string consoleDevice;       // every byte written to the console device itself
extern int outstandingTexts;            // system texts looked up and not yet released
// The most characters any text handed to the platform held before its terminator,
// counted up to 260: 260 means a text that was not terminated in a 260-character buffer.
extern int longestPlatformText;

void Reset();

// Calls whose log entry starts with `name`.
std::vector<std::string> CallsNamed(const std::string& name);

// The log as a string for readable failure messages.
std::string Log();

// A key record going down (or up) with the given scan code, character and state.
ombrin::platform::InputRecord Key(uint16_t scanCode, char asciiChar = '\0', uint32_t state = 0, bool down = true);

}  // namespace fake
