// Test helper: prints the running system's text for an error code as the
// installer's failure report prints it, so that no test holds a system text.
// Usage: system_text HEX_CODE
// The text is FormatMessageW's from the system's table in English (United
// States), inserts ignored; each character up to 255 is written as one byte,
// any other as "?", each line feed as CR LF. Exit status 0 with the text, 1
// when the system has none in that language (the report is then the status
// line alone), 2 for a wrong command line.
#include <wchar.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    wchar_t* end = nullptr;
    const unsigned long code = argc == 2 ? wcstoul(argv[1], &end, 16) : 0;
    if (argc != 2 || end == argv[1] || *end != L'\0') return 2;
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD length = FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return 1;
    // At most two bytes a character; written in one call.
    HANDLE heap = GetProcessHeap();
    char* bytes = static_cast<char*>(HeapAlloc(heap, 0, size_t{length} * 2 + 1));
    if (bytes == nullptr) return 3;
    DWORD count = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] == L'\n') bytes[count++] = '\r';
        bytes[count++] = text[i] <= 255 ? static_cast<char>(text[i]) : '?';
    }
    DWORD written = 0;
    const BOOL wrote = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, count, &written, nullptr);
    LocalFree(text);
    return wrote != FALSE && written == count ? 0 : 3;
}
