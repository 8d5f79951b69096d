// The Windows side of the platform seam: the only code that includes <windows.h>.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "../pause.h"
#include "../platform.h"
#include "startup.h"

namespace ombrin::platform {
namespace {

using InstallClassFunction = BOOL(WINAPI*)(HWND, PCWSTR, DWORD, void*);
using UpdateDriverFunction = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The status Windows' own handling gives a process that Ctrl+C ended.
constexpr UINT kStatusControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// Set by the console control handler on its own thread, read by the main path;
// the system's interlocked calls, since the ARM64 build has no C++ library.
LONG volatile interruptRequested = 0;

// Records the request; true when one had been recorded before.
bool RecordInterrupt() { return InterlockedExchange(&interruptRequested, 1) != 0; }

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // The first request lets the call in progress finish. A second one ends
            // the process at once, the way out of a call that never comes back,
            // with the status that says it was interrupted: not every platform's
            // default gives it (Wine's gives 0). TerminateProcess, not ExitProcess:
            // the main thread may hold the loader's lock inside the call.
            if (RecordInterrupt()) TerminateProcess(GetCurrentProcess(), kStatusControlCExit);
            AcknowledgeInterrupt();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process ends as soon as this returns: hold it (the platform
            // allows a few seconds) while the main path writes out and ends.
            RecordInterrupt();
            Sleep(INFINITE);
            return TRUE;
        default:
            // A log-off does not say whose; a program started by a service must
            // not stop because some user logged off.
            return TRUE;
    }
}

// Finds `name` among kernel32's exports; null where this system lacks it. The
// test build that defines OMBRIN_TEST_WITHOUT_SEARCH_FLAGS acts as a system
// without the loader's search flags, so that its other branch can be tested.
FARPROC Kernel32Function(const char* name) {
#ifdef OMBRIN_TEST_WITHOUT_SEARCH_FLAGS
    static_cast<void>(name);
    return nullptr;
#else
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 != nullptr ? GetProcAddress(kernel32, name) : nullptr;
#endif
}

// Takes the generic function pointer GetProcAddress returns as the type it has;
// the detour through void(*)() is the conversion both compilers accept quietly.
template <typename Function>
Function AsFunction(FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// Libraries that a system library loads in turn follow the default search,
// which would start in the executable's folder: restrict it to the system
// directory where the system can (Windows 8, and 7 with its loader update).
// Elsewhere at least the current directory is taken out of it.
void RestrictLibrarySearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefault = AsFunction<SetDefaultDllDirectoriesFunction>(Kernel32Function("SetDefaultDllDirectories"));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE) return;
    SetDllDirectoryW(L"");
}

// The program runs elevated: its device-installation libraries come from the
// system directory only, never from the executable's or the current directory.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    // The search flags came with AddDllDirectory; a system without it may ignore
    // them and search the executable's folder.
    // cppcheck-suppress knownConditionTrueFalse ; false in the test build only, which acts as such a system
    if (Kernel32Function("AddDllDirectory") != nullptr) {
        return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Name the file by its full system path; with the altered search its own
    // imports are looked up beside it first.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    UINT nameLength = 0;
    while (name[nameLength] != L'\0') ++nameLength;
    if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    path[length] = L'\\';
    for (UINT i = 0; i <= nameLength; ++i) path[length + 1 + i] = name[i];
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Finds `function` in the system library `library`; on failure the loader's
// error is left as the thread's last error.
template <typename Function>
Function FindSystemFunction(const wchar_t* library, const char* function) {
    HMODULE module = LoadSystemLibrary(library);
    if (module == nullptr) return nullptr;
    return AsFunction<Function>(GetProcAddress(module, function));
}

CallResult Judge(BOOL succeeded) {
    if (succeeded != FALSE) return {true, 0};
    return {false, GetLastError()};
}

}  // namespace

void PrepareProcess() {
    RestrictLibrarySearch();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

CallResult InstallClass(const wchar_t* infPath, uint32_t flags) {
    const auto install = FindSystemFunction<InstallClassFunction>(L"setupapi.dll", "SetupDiInstallClassW");
    if (install == nullptr) return {false, GetLastError()};
    return Judge(install(nullptr, infPath, flags, nullptr));
}

CallResult UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, uint32_t installFlags,
                        bool* rebootRequired) {
    const auto update = FindSystemFunction<UpdateDriverFunction>(L"newdev.dll", "UpdateDriverForPlugAndPlayDevicesW");
    if (update == nullptr) return {false, GetLastError()};
    BOOL reboot = FALSE;
    const CallResult result = Judge(update(nullptr, hardwareId, infPath, installFlags, &reboot));
    *rebootRequired = reboot != FALSE;
    return result;
}

uint32_t FullPathName(const wchar_t* path, wchar_t* out, uint32_t capacity) {
    return GetFullPathNameW(path, capacity, out, nullptr);
}

const wchar_t* LookUpSystemText(uint32_t code, uint32_t language) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    // With ALLOCATE_BUFFER the buffer argument receives the address of the text.
    FormatMessageW(flags, nullptr, code, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    return text;
}

void ReleaseSystemText(const wchar_t* text) { LocalFree(const_cast<wchar_t*>(text)); }

FileType StandardOutputType() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return FileType::Unknown;
    switch (GetFileType(output) & ~static_cast<DWORD>(FILE_TYPE_REMOTE)) {
        case FILE_TYPE_DISK:
            return FileType::Disk;
        case FILE_TYPE_CHAR:
            return FileType::Character;
        case FILE_TYPE_PIPE:
            return FileType::Pipe;
        default:
            return FileType::Unknown;
    }
}

void WriteStandardOutput(const char* bytes, size_t count) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(count);  // at most one 4096-byte block
        if (WriteFile(output, bytes, chunk, &written, nullptr) == FALSE || written == 0) return;
        bytes += written;
        count -= written;
    }
}

bool InterruptRequested() { return InterlockedCompareExchange(&interruptRequested, 0, 0) != 0; }

WindowHandle ConsoleWindow() { return GetConsoleWindow(); }

// user32 comes from the system directory, as the installation libraries do: the
// executable has no static import of it.
bool IsLiveWindow(WindowHandle window) {
    using IsWindowFunction = BOOL(WINAPI*)(HWND);
    const auto isWindow = FindSystemFunction<IsWindowFunction>(L"user32.dll", "IsWindow");
    return isWindow != nullptr && isWindow(static_cast<HWND>(window)) != FALSE;
}

bool WindowStationVisible() {
    using GetProcessWindowStationFunction = HWINSTA(WINAPI*)();
    using GetUserObjectInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD, DWORD*);
    const auto station = FindSystemFunction<GetProcessWindowStationFunction>(L"user32.dll", "GetProcessWindowStation");
    const auto information =
        FindSystemFunction<GetUserObjectInformationFunction>(L"user32.dll", "GetUserObjectInformationW");
    if (station == nullptr || information == nullptr) return false;
    HWINSTA current = station();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (current == nullptr || information(current, UOI_FLAGS, &flags, sizeof flags, &needed) == FALSE) return false;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void WriteConsoleDevice(const char* bytes, size_t count) {
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(console, bytes, static_cast<DWORD>(count), &written, nullptr);
    CloseHandle(console);
}

bool OpenConsoleInput(ConsoleHandle* handle) {
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return false;
    *handle = input;
    return true;
}

bool CountConsoleInput(ConsoleHandle handle, uint32_t* count) {
    DWORD events = 0;
    if (GetNumberOfConsoleInputEvents(handle, &events) == FALSE) return false;
    *count = events;
    return true;
}

bool PeekConsoleRecords(ConsoleHandle handle, uint32_t asked, PeekedRecords* peeked) {
    // One block from the platform holds the raw records and, after them, their
    // plain form; it goes back with ReleasePeekedRecords.
    const size_t rawSize = size_t{asked} * sizeof(INPUT_RECORD);
    void* block = LocalAlloc(LMEM_FIXED, rawSize + size_t{asked} * sizeof(InputRecord));
    if (block == nullptr) return false;
    auto* raw = static_cast<INPUT_RECORD*>(block);
    DWORD read = 0;
    if (PeekConsoleInputA(handle, raw, asked, &read) == FALSE) {
        LocalFree(block);
        return false;
    }
    auto* records = reinterpret_cast<InputRecord*>(static_cast<char*>(block) + rawSize);
    // A count above `asked` is passed on as it is, for the caller to reject.
    for (DWORD i = 0; i < read && i < asked; ++i) {
        const bool key = raw[i].EventType == KEY_EVENT;
        const KEY_EVENT_RECORD& event = raw[i].Event.KeyEvent;
        records[i] = {raw[i].EventType, key && event.bKeyDown != FALSE,
                      static_cast<uint16_t>(key ? event.wVirtualScanCode : 0), key ? event.uChar.AsciiChar : '\0',
                      key ? event.dwControlKeyState : 0};
    }
    *peeked = {records, read, block};
    return true;
}

void ReleasePeekedRecords(PeekedRecords* peeked) {
    if (peeked->Block != nullptr) LocalFree(peeked->Block);
    *peeked = {nullptr, 0, nullptr};
}

void YieldTimeSlice() { Sleep(0); }

}  // namespace ombrin::platform
