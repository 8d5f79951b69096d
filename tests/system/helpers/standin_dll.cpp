// Test helper: a stand-in for newdev.dll and setupapi.dll. Every copy logs the
// path it was loaded from; the two installation calls log what they received
// and answer as the environment says:
//   OMBRIN_STANDIN_LOG          Windows path of the log (UTF-8 lines, appended)
//   OMBRIN_STANDIN_UPDATE_ERROR hex code the driver update fails with; unset: success
//   OMBRIN_STANDIN_CLASS_ERROR  hex code the class installation fails with; unset: success
//   OMBRIN_STANDIN_REBOOT       "1": the driver update sets the reboot flag
//   OMBRIN_STANDIN_DELAY_MS     milliseconds each call takes before it answers; the
//                               log gets "done|update" or "done|class" when it does
#include <wchar.h>
#include <windows.h>

namespace {

HMODULE self;

void Log(const wchar_t* line) {
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"OMBRIN_STANDIN_LOG", path, MAX_PATH) == 0) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char bytes[4096];
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof bytes - 1, nullptr, nullptr);
    if (size > 0) {
        bytes[size - 1] = '\n';
        DWORD written;
        WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
    }
    CloseHandle(file);
}

// Takes as long as the environment says, then fails with the code named by
// `variable`, or succeeds when it is unset.
BOOL Answer(const wchar_t* variable, const wchar_t* doneLine) {
    wchar_t text[32];
    if (GetEnvironmentVariableW(L"OMBRIN_STANDIN_DELAY_MS", text, 32) != 0) {
        Sleep(static_cast<DWORD>(wcstoul(text, nullptr, 10)));
        Log(doneLine);
    }
    if (GetEnvironmentVariableW(variable, text, 32) == 0) return TRUE;
    SetLastError(static_cast<DWORD>(wcstoul(text, nullptr, 16)));
    return FALSE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        wchar_t line[MAX_PATH + 16] = L"loaded|";
        GetModuleFileNameW(instance, line + 7, MAX_PATH);
        Log(line);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    UpdateDriverForPlugAndPlayDevicesW(HWND window, LPCWSTR hardwareId, LPCWSTR infPath, DWORD flags,
                                       PBOOL rebootRequired) {
    wchar_t line[1024];
    _snwprintf(line, 1024, L"update|%ls|%ls|0x%08lX|window:%ls|reboot:%ls", hardwareId ? hardwareId : L"(null)",
               infPath ? infPath : L"(null)", flags, window ? L"set" : L"null", rebootRequired ? L"pointer" : L"null");
    Log(line);
    wchar_t reboot[4];
    if (rebootRequired && GetEnvironmentVariableW(L"OMBRIN_STANDIN_REBOOT", reboot, 4) != 0) *rebootRequired = TRUE;
    return Answer(L"OMBRIN_STANDIN_UPDATE_ERROR", L"done|update");
}

extern "C" __declspec(dllexport) BOOL WINAPI
    SetupDiInstallClassW(HWND window, PCWSTR infPath, DWORD flags, void* queue) {
    wchar_t line[1024];
    _snwprintf(line, 1024, L"class|%ls|0x%08lX|window:%ls|queue:%ls", infPath ? infPath : L"(null)", flags,
               window ? L"set" : L"null", queue ? L"set" : L"null");
    Log(line);
    return Answer(L"OMBRIN_STANDIN_CLASS_ERROR", L"done|class");
}
