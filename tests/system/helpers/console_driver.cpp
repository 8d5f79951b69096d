// Test helper: starts a program and acts on it as an operator or a deployment
// tool would. Usage: console_driver ACTION [--stdout FILE] PROGRAM [ARGUMENTS...]
//   letter|f5|arrow  (in a console, under a pseudo-terminal) feeds the console
//                    input records that must not end a wait for a key, then one
//                    key press; checks that the program kept waiting, then ended,
//                    and that the key press is still pending afterwards.
//   alone            the same with a letter as the only record pending.
//   ctrl-c|ctrl-c-twice  (in a console) sends Ctrl+C to the console while the
//                    program runs, once or twice; checks that it ended and says
//                    how long after the last Ctrl+C.
//   logoff           delivers a log-off event to the program as Windows does, by
//                    a thread of its own started at kernelbase's CtrlRoutine.
//   terminate        (in a console) ends the waiting program with
//                    TerminateProcess after 2 s, as an agent's time-out does.
//   hidden           starts the program in a new console without a window
//                    (CREATE_NO_WINDOW), standard input from NUL; checks that it
//                    ends on its own.
//   station          starts the program on a window station that nobody sees, as
//                    Windows starts services, keeping this console; checks that
//                    it ends on its own.
//   probe            starts nothing; says whether a person could press a key in
//                    this console ("driver: a person could type here: yes|no"):
//                    it has a window that is one, on a window station one sees.
// With --stdout the program's standard output goes to FILE, which must hold
// something (the report) while the program waits for a key. Every wait is
// multiplied by OMBRIN_TEST_SLOWDOWN (default 1), as the platform is slow.
// Prints "driver: ..." lines and exits 0 when every check held.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

namespace {

int failures = 0;

void Check(bool held, const char* what) {
    printf("driver: %s: %s\n", held ? "ok" : "FAILED", what);
    fflush(stdout);
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

// `milliseconds` as long as the platform's slowness makes them.
DWORD Scaled(DWORD milliseconds) {
    wchar_t text[32];
    double factor = 1;
    const DWORD length = GetEnvironmentVariableW(L"OMBRIN_TEST_SLOWDOWN", text, 32);
    if (length > 0 && length < 32) factor = wcstod(text, nullptr);
    return factor >= 1 ? static_cast<DWORD>(milliseconds * factor) : milliseconds;
}

// The C runtime only (there is no C++ library for every target): texts in
// fixed buffers. The command line's limit is 32767 characters.
wchar_t commandLine[32768];

// Appends `argument` to the command line in double quotes; false when it is full.
bool AppendQuoted(const wchar_t* argument) {
    size_t length = wcslen(commandLine);
    const size_t room = sizeof commandLine / sizeof commandLine[0] - 3;  // quotes and terminator
    if (length > 0) commandLine[length++] = L' ';
    commandLine[length++] = L'"';
    for (; *argument; ++argument) {
        if (length + 2 > room) return false;
        if (*argument == L'"') commandLine[length++] = L'\\';
        commandLine[length++] = *argument;
    }
    commandLine[length++] = L'"';
    commandLine[length] = L'\0';
    return true;
}

LONGLONG FileSize(const wchar_t* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Waits up to 15 s (scaled) for the end, prints the exit status; false when it did not end.
bool AwaitEnd(HANDLE process) {
    const bool ended = WaitForSingleObject(process, Scaled(15000)) == WAIT_OBJECT_0;
    Check(ended, "ends");
    if (!ended) TerminateProcess(process, 99);
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    printf("driver: exit status %ld\n", static_cast<long>(status));
    return ended;
}

// Unless the key is to be alone: Shift alone, a key release, a mouse move and a
// focus change, then the key press; the program must wait through the first four.
void PressKey(HANDLE input, HANDLE process, const INPUT_RECORD& key, bool alone, const wchar_t* outputFile) {
    INPUT_RECORD noise[4] = {KeyRecord(true, VK_SHIFT, 42, 0, SHIFT_PRESSED), KeyRecord(false, 'A', 30, L'a', 0)};
    noise[2].EventType = MOUSE_EVENT;
    noise[2].Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
    noise[3].EventType = FOCUS_EVENT;
    noise[3].Event.FocusEvent.bSetFocus = TRUE;
    DWORD written = 0;
    if (!alone) {
        Check(WriteConsoleInputW(input, noise, 4, &written) && written == 4, "other records written");
        Sleep(Scaled(1500));
        Check(Running(process), "keeps waiting through other records");
    }
    if (outputFile != nullptr) Check(FileSize(outputFile) > 0, "output file written before the wait");

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
        printf("driver: ended %llu ms after the last Ctrl+C\n", GetTickCount64() - sent);
    }
}

// Starts a thread in `process` at kernelbase's CtrlRoutine with `event`, as
// Windows delivers a console control event; the routine's address there is
// found from where kernelbase lies in this process and in that one.
void SendControlEvent(const PROCESS_INFORMATION& process, DWORD event) {
    HMODULE own = GetModuleHandleW(L"kernelbase.dll");
    FARPROC routine = own != nullptr ? GetProcAddress(own, "CtrlRoutine") : nullptr;
    BYTE* remote = nullptr;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.dwProcessId);
    MODULEENTRY32W module = {sizeof module};
    for (BOOL more = Module32FirstW(snapshot, &module); more && remote == nullptr;
         more = Module32NextW(snapshot, &module)) {
        if (_wcsicmp(module.szModule, L"kernelbase.dll") == 0) remote = module.modBaseAddr;
    }
    if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
    // Where the snapshot has no modules (the arm64 Wine's), kernelbase lies where it lies here.
    if (remote == nullptr) remote = reinterpret_cast<BYTE*>(own);
    Check(routine != nullptr && remote != nullptr, "CtrlRoutine found");
    if (routine == nullptr || remote == nullptr) return;
    const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        remote + (reinterpret_cast<BYTE*>(routine) - reinterpret_cast<BYTE*>(own)));
    HANDLE thread = CreateRemoteThread(process.hProcess, nullptr, 0, start,
                                       reinterpret_cast<void*>(static_cast<ULONG_PTR>(event)), 0, nullptr);
    Check(thread != nullptr, "control event sent");
    if (thread != nullptr) CloseHandle(thread);
}

// A window station that nobody sees, with its desktop, as Windows gives services
// and tasks run without a logged-on user; returns the desktop's full name.
wchar_t* HiddenStationDesktop() {
    const wchar_t* name = L"OmbrinUnseen";
    HWINSTA own = GetProcessWindowStation();
    HWINSTA unseen = CreateWindowStationW(name, 0, WINSTA_ALL_ACCESS, nullptr);
    Check(unseen != nullptr && SetProcessWindowStation(unseen), "window station made");
    Check(CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr) != nullptr, "desktop made");
    SetProcessWindowStation(own);
    static wchar_t desktop[64];
    _snwprintf(desktop, 63, L"%ls\\Default", name);
    return desktop;
}

}  // namespace

// Whether a person could press a key in this console, judged as the installer
// judges it before it waits.
void Probe() {
    HWND window = GetConsoleWindow();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    const bool visible =
        GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed) != FALSE &&
        (flags.dwFlags & WSF_VISIBLE) != 0;
    printf("driver: a person could type here: %s\n", window != nullptr && IsWindow(window) && visible ? "yes" : "no");
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && wcscmp(argv[1], L"probe") == 0) {
        Probe();
        return 0;
    }
    if (argc < 3) {
        fwprintf(stderr, L"usage: console_driver ACTION [--stdout FILE] PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const wchar_t* action = argv[1];
    auto is = [action](const wchar_t* name) { return wcscmp(action, name) == 0; };
    const bool keyAction = is(L"letter") || is(L"f5") || is(L"arrow") || is(L"alone");
    int next = 2;
    const wchar_t* outputFile = nullptr;
    if (wcscmp(argv[next], L"--stdout") == 0) {
        outputFile = argv[next + 1];
        next += 2;
    }
    for (int i = next; i < argc; ++i) {
        if (!AppendQuoted(argv[i])) {
            printf("driver: FAILED: command line too long\n");
            return 1;
        }
    }

    HANDLE input = INVALID_HANDLE_VALUE;
    if (keyAction) {
        input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE) {
            printf("driver: FAILED: no console input (%lu)\n", GetLastError());
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
    if (is(L"hidden")) {
        // As a deployment agent starts a tool: no window, input from NUL.
        creation = CREATE_NO_WINDOW;
        nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                          nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nul;
        startup.hStdError = nul;
        if (outputFile == nullptr) startup.hStdOutput = nul;
    }
    if (is(L"station")) startup.lpDesktop = HiddenStationDesktop();
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, creation, nullptr, nullptr, &startup, &process)) {
        printf("driver: FAILED: cannot start the program (%lu)\n", GetLastError());
        return 1;
    }

    if (is(L"hidden") || is(L"station")) {
        AwaitEnd(process.hProcess);
    } else {
        Sleep(Scaled(2000));
        Check(Running(process.hProcess), "still running after 2 s (scaled)");
        if (keyAction) {
            INPUT_RECORD key = is(L"f5")      ? KeyRecord(true, VK_F5, 63, 0, 0)
                               : is(L"arrow") ? KeyRecord(true, VK_UP, 72, 0, ENHANCED_KEY)
                                              : KeyRecord(true, 'Q', 16, L'q', 0);
            PressKey(input, process.hProcess, key, is(L"alone"), outputFile);
        } else if (is(L"logoff")) {
            SendControlEvent(process, CTRL_LOGOFF_EVENT);
            AwaitEnd(process.hProcess);
        } else if (is(L"terminate")) {
            Check(TerminateProcess(process.hProcess, 99) != FALSE, "terminated");
            AwaitEnd(process.hProcess);
        } else {
            SendCtrlC(process.hProcess, is(L"ctrl-c-twice") ? 2 : 1);
        }
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    return failures == 0 ? 0 : 1;
}
