// The seam between the program's logic and Windows. Everything declared here is
// implemented by src/win/platform_win.cpp in the real program and by a recording
// fake in the tests; the logic never sees a Windows type.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace ombrin::platform {

// The outcome of one platform call. `error` is the thread's last error, read
// right after the call failed and before anything else ran; 0 on success.
struct CallResult {
    bool succeeded;
    uint32_t error;
};

// SetupDiInstallClassW(no window, infPath, flags, no file queue).
CallResult InstallClass(const wchar_t* infPath, uint32_t flags);

// UpdateDriverForPlugAndPlayDevicesW(no window, hardwareId, infPath, installFlags,
// rebootRequired).
CallResult UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, uint32_t installFlags, bool* rebootRequired);

// GetFullPathNameW: writes the absolute form of `path` into `out` when it fits in
// `capacity` characters with its terminator and returns its length; returns the
// capacity the path would need when it does not fit; returns 0 when it fails.
uint32_t FullPathName(const wchar_t* path, wchar_t* out, uint32_t capacity);

// FormatMessageW from the system's table, inserts ignored, in `language`. Returns
// the text the system allocated, or null when it has none; release with
// ReleaseSystemText.
const wchar_t* LookUpSystemText(uint32_t code, uint32_t language);
void ReleaseSystemText(const wchar_t* text);

// GetFileType of standard output: a console is a character device, also when it
// was opened for writing only and so refuses GetConsoleMode.
enum class FileType { Unknown, Disk, Character, Pipe };
FileType StandardOutputType();
// Writes bytes to standard output as they stand.
void WriteStandardOutput(const char* bytes, size_t count);

// Whether Ctrl+C, Ctrl+Break or the closing of the console has asked the program
// to stop. The console control handler only records the request; the logic reads
// it between calls.
bool InterruptRequested();

// One console input record, reduced to what the key check reads.
struct InputRecord {
    uint16_t EventType;  // KEY_EVENT is 1
    bool KeyDown;
    uint16_t ScanCode;
    char AsciiChar;
    uint32_t ControlKeyState;
};

using ConsoleHandle = void*;

// Records read from the console input without removing them; the block is the
// platform's and goes back with ReleasePeekedRecords.
struct PeekedRecords {
    const InputRecord* Records;
    uint32_t Count;
    void* Block;
};

using WindowHandle = void*;

// GetConsoleWindow(): the console's window, null where the console has none.
WindowHandle ConsoleWindow();
// IsWindow() from user32, loaded from the system directory: Windows 10 1809 hands
// a CREATE_NO_WINDOW process a handle that is no window. False when user32 or the
// function cannot be had.
bool IsLiveWindow(WindowHandle window);
// GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS) from user32
// gives WSF_VISIBLE: the process's window station is one a person sees, not a
// service's or that of a task run without a logged-on user. False when unknown.
bool WindowStationVisible();
// Writes bytes to the console device itself ("CONOUT$"), never to standard output
// or standard error; nothing when there is no console.
void WriteConsoleDevice(const char* bytes, size_t count);
// CreateFileW("CONIN$", read and write, shared for both, open existing).
bool OpenConsoleInput(ConsoleHandle* handle);
// GetNumberOfConsoleInputEvents.
bool CountConsoleInput(ConsoleHandle handle, uint32_t* count);
// PeekConsoleInputA for up to `asked` records; false when the call fails or no
// space for the records can be had.
bool PeekConsoleRecords(ConsoleHandle handle, uint32_t asked, PeekedRecords* peeked);
void ReleasePeekedRecords(PeekedRecords* peeked);
// Sleep(0): gives up the rest of the time slice.
void YieldTimeSlice();

}  // namespace ombrin::platform
