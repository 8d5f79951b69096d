// Test helper: starts a program and acts on it as an operator or a deployment
// tool would. Usage: console_driver ACTION [--stdout FILE] PROGRAM [ARGUMENTS...]
//   letter|f5|arrow  (in a console, under a pseudo-terminal) feeds the console
//                    input records that must not end a wait for a key, then one
//                    key press; checks that the program kept waiting, then ended,
//                    and that the key press is still pending afterwards.
//   ctrl-c|ctrl-c-twice  (in a console) sends Ctrl+C to the console while the
//                    program runs, once or twice; checks that it ended and says
//                    how long after the last Ctrl+C.
//   hidden           starts the program in a new console without a window
//                    (CREATE_NO_WINDOW), standard input from NUL; checks that it
//                    ends on its own.
// With --stdout the program's standard output goes to FILE, which must stay
// empty while the program waits for a key.
// Prints "driver: ..." lines and exits 0 when every check held.
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int failures = 0;

void Check(bool held, const char* what) {
    std::printf("driver: %s: %s\n", held ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!held) ++failures;
}

INPUT_RECORD KeyRecord(bool down, WORD virtualKey, WORD scanCode, wchar_t character, DWORD state) {
    INPUT_RECORD record = {};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
    record.Event.KeyEvent.wVirtualScanCode = scanCode;
    record.Event.KeyEvent.uChar.UnicodeChar = character;
    record.Event.KeyEvent.dwControlKeyState = state;
    return record;
}

bool Running(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

std::wstring Quote(const wchar_t* argument) {
    std::wstring quoted = L"\"";
    for (; *argument; ++argument) {
        if (*argument == L'"') quoted += L'\\';
        quoted += *argument;
    }
    return quoted + L"\"";
}

LONGLONG FileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Waits up to 15 s for the end, prints the exit status; false when it did not end.
bool AwaitEnd(HANDLE process) {
    const bool ended = WaitForSingleObject(process, 15000) == WAIT_OBJECT_0;
    Check(ended, "ends");
    if (!ended) TerminateProcess(process, 99);
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    std::printf("driver: exit status %ld\n", static_cast<long>(status));
    return ended;
}

// Shift alone, a key release, a mouse move and a focus change, then the key
// press; the program must wait through the first four.
void PressKey(HANDLE input, HANDLE process, const INPUT_RECORD& key, const wchar_t* outputFile) {
    INPUT_RECORD noise[4] = {KeyRecord(true, VK_SHIFT, 42, 0, SHIFT_PRESSED), KeyRecord(false, 'A', 30, L'a', 0)};
    noise[2].EventType = MOUSE_EVENT;
    noise[2].Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
    noise[3].EventType = FOCUS_EVENT;
    noise[3].Event.FocusEvent.bSetFocus = TRUE;
    DWORD written = 0;
    Check(WriteConsoleInputW(input, noise, 4, &written) && written == 4, "other records written");
    Sleep(1500);
    Check(Running(process), "keeps waiting through other records");
    if (outputFile != nullptr) Check(FileSize(outputFile) == 0, "output file empty while waiting");

    Check(WriteConsoleInputW(input, &key, 1, &written) && written == 1, "key press written");
    AwaitEnd(process);

    INPUT_RECORD pending[64];
    DWORD count = 0;
    bool found = false;
    if (PeekConsoleInputW(input, pending, 64, &count)) {
        for (DWORD i = 0; i < count; ++i) {
            const KEY_EVENT_RECORD& event = pending[i].Event.KeyEvent;
            found = found || (pending[i].EventType == KEY_EVENT && event.bKeyDown &&
                              event.wVirtualScanCode == key.Event.KeyEvent.wVirtualScanCode);
        }
    }
    Check(found, "key press still pending");
}

// Ctrl+C reaches every process of the console; this one ignores it from now on
// (set after the start, or the program would inherit the setting).
void SendCtrlC(HANDLE process, int times) {
    SetConsoleCtrlHandler(nullptr, TRUE);
    for (int i = 0; i < times; ++i) {
        if (i > 0) Sleep(300);
        Check(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE, "Ctrl+C sent");
    }
    const ULONGLONG sent = GetTickCount64();
    if (AwaitEnd(process)) {
        std::printf("driver: ended %llu ms after the last Ctrl+C\n", GetTickCount64() - sent);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: console_driver ACTION [--stdout FILE] PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const std::wstring action = argv[1];
    const bool keyAction = action == L"letter" || action == L"f5" || action == L"arrow";
    int next = 2;
    const wchar_t* outputFile = nullptr;
    if (std::wcscmp(argv[next], L"--stdout") == 0) {
        outputFile = argv[next + 1];
        next += 2;
    }
    std::wstring commandLine;
    for (int i = next; i < argc; ++i) commandLine += (i > next ? L" " : L"") + Quote(argv[i]);

    HANDLE input = INVALID_HANDLE_VALUE;
    if (keyAction) {
        input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE) {
            std::printf("driver: FAILED: no console input (%lu)\n", GetLastError());
            return 1;
        }
        FlushConsoleInputBuffer(input);
    }

    STARTUPINFOW startup = {sizeof startup};
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE nul = INVALID_HANDLE_VALUE;
    DWORD creation = 0;
    if (outputFile != nullptr) {
        file = CreateFileW(outputFile, GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = file;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    if (action == L"hidden") {
        // As a deployment agent starts a tool: no window, input from NUL.
        creation = CREATE_NO_WINDOW;
        nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                          nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdError = nul;
        if (outputFile == nullptr) startup.hStdOutput = nul;
    }
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, creation, nullptr, nullptr, &startup,
                        &process)) {
        std::printf("driver: FAILED: cannot start the program (%lu)\n", GetLastError());
        return 1;
    }

    if (action == L"hidden") {
        AwaitEnd(process.hProcess);
    } else {
        Sleep(2000);
        Check(Running(process.hProcess), "still running after 2 s");
        if (keyAction) {
            INPUT_RECORD key = action == L"letter" ? KeyRecord(true, 'Q', 16, L'q', 0)
                               : action == L"f5"   ? KeyRecord(true, VK_F5, 63, 0, 0)
                                                   : KeyRecord(true, VK_UP, 72, 0, ENHANCED_KEY);
            PressKey(input, process.hProcess, key, outputFile);
        } else {
            SendCtrlC(process.hProcess, action == L"ctrl-c-twice" ? 2 : 1);
        }
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    return failures == 0 ? 0 : 1;
}
