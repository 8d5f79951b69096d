// The Windows side of the platform seam: the only code that includes <windows.h>.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "../platform.h"

namespace ombrin::platform {
namespace {

using InstallClassFunction = BOOL(WINAPI*)(HWND, PCWSTR, DWORD, void*);
using UpdateDriverFunction = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The program runs elevated: its device-installation libraries come from the
// system directory only, never from the executable's or the current directory.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;

    // Systems without the search flag: name the file by its full system path.
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
    // GetProcAddress returns a generic function pointer; the detour through
    // void(*)() is the conversion both compilers accept without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, function)));
}

CallResult Judge(BOOL succeeded) {
    if (succeeded != FALSE) return {true, 0};
    return {false, GetLastError()};
}

}  // namespace

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

bool StandardOutputIsConsole() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) != FALSE;
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
