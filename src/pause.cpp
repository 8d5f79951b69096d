#include "pause.h"

namespace ombrin {
namespace {

struct ScanRange {
    uint16_t First;
    uint16_t Last;
};

// Scan codes that give a two-byte extended code, by the modifier state that
// applies, for the scan codes 0 to 88 of the usual keyboard.
constexpr ScanRange kAltKeys[] = {{1, 28}, {30, 41}, {44, 53}, {59, 68}, {87, 88}};
constexpr ScanRange kCtrlKeys[] = {{3, 3}, {15, 15}, {59, 68}, {71, 73}, {75, 75}, {77, 77}, {79, 83}, {87, 88}};
constexpr ScanRange kShiftKeys[] = {{15, 15}, {59, 68}, {87, 88}};
constexpr ScanRange kPlainKeys[] = {{59, 68}, {71, 73}, {75, 75}, {77, 77}, {79, 83}, {87, 88}};

// With the enhanced-key flag: keypad Enter and slash, and the navigation block.
constexpr uint16_t kEnhancedScanCodes[] = {28, 53, 71, 72, 73, 75, 77, 79, 80, 81, 82, 83};

// Plain loops, not <algorithm>: the program builds without the C++ library
// (Debian has none for Windows on ARM64).
template <size_t N>
bool InRanges(const ScanRange (&ranges)[N], uint16_t scanCode) {
    for (const ScanRange& range : ranges) {
        if (scanCode >= range.First && scanCode <= range.Last) return true;
    }
    return false;
}

template <size_t N>
bool Contains(const uint16_t (&codes)[N], uint16_t scanCode) {
    for (const uint16_t code : codes) {
        if (code == scanCode) return true;
    }
    return false;
}

bool IsExtendedKey(uint16_t scanCode, uint32_t controlKeyState) {
    if ((controlKeyState & kEnhancedKey) != 0) return Contains(kEnhancedScanCodes, scanCode);
    if ((controlKeyState & (kLeftAltPressed | kRightAltPressed)) != 0) return InRanges(kAltKeys, scanCode);
    if ((controlKeyState & (kLeftCtrlPressed | kRightCtrlPressed)) != 0) return InRanges(kCtrlKeys, scanCode);
    if ((controlKeyState & kShiftPressed) != 0) return InRanges(kShiftKeys, scanCode);
    return InRanges(kPlainKeys, scanCode);
}

bool AnyKeyPress(const platform::PeekedRecords& peeked) {
    for (uint32_t i = 0; i < peeked.Count; ++i) {
        if (IsKeyPress(peeked.Records[i])) return true;
    }
    return false;
}

}  // namespace

bool IsKeyPress(const platform::InputRecord& record) {
    if (record.EventType != kKeyEvent || !record.KeyDown) return false;
    return record.AsciiChar != '\0' || IsExtendedKey(record.ScanCode, record.ControlKeyState);
}

bool PersonCanType() {
    // A hidden window is fine: a pseudo-console's window is hidden, yet a person
    // types there.
    platform::WindowHandle window = platform::ConsoleWindow();
    return window != nullptr && platform::IsLiveWindow(window) && platform::WindowStationVisible();
}

void AcknowledgeInterrupt() {
    static constexpr char kStopping[] = "Stopping after the call in progress; press Ctrl+C again to end at once.\r\n";
    if (PersonCanType()) platform::WriteConsoleDevice(kStopping, sizeof kStopping - 1);
}

bool KeyPressPending(ConsoleInput& console) {
    if (console.State == ConsoleState::NotOpened) {
        // Where nobody can press a key the input device may still open (a console
        // made with CREATE_NO_WINDOW, or for a service); it is never read there.
        const bool usable = PersonCanType() && platform::OpenConsoleInput(&console.Handle);
        console.State = usable ? ConsoleState::Open : ConsoleState::Unavailable;
    }
    if (console.State != ConsoleState::Open) return false;

    uint32_t pending = 0;
    if (!platform::CountConsoleInput(console.Handle, &pending) || pending == 0) return false;

    // Older consoles refuse a peek of more than about 64 KB of records: ask for
    // half as many until one is granted, rather than fail on every round.
    platform::PeekedRecords peeked{nullptr, 0, nullptr};
    uint32_t asked = pending;
    while (!platform::PeekConsoleRecords(console.Handle, asked, &peeked)) {
        if (asked == 1) return false;
        asked /= 2;
    }
    const bool found = peeked.Count != 0 && peeked.Count <= asked && AnyKeyPress(peeked);
    platform::ReleasePeekedRecords(&peeked);
    return found;
}

void Pause(Output& out, ConsoleInput& console) {
    Print(out, L"Any key to continue...\n");
    // An agent that gives up waiting ends the program with TerminateProcess, which
    // runs none of its code: the report and the prompt must be in its log by then.
    Flush(out);
    while (!platform::InterruptRequested() && !KeyPressPending(console)) {
        if (console.State == ConsoleState::Unavailable) return;
        platform::YieldTimeSlice();
    }
}

}  // namespace ombrin
