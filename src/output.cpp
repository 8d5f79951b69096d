#include "output.h"

#include "platform.h"

namespace ombrin {
namespace {

void PutByte(Output& out, char byte) {
    out.Buffer[out.Used++] = byte;
    if (out.Used == kOutputBufferSize) Flush(out);
}

void PutChar(Output& out, wchar_t c) {
    // wchar_t is 16 bits and unsigned on Windows, 32 bits and signed elsewhere;
    // widening keeps its value either way. The signed-char check below takes
    // wchar_t for a byte character, which it is not.
    const int64_t value = c;  // NOLINT(bugprone-signed-char-misuse,cert-str34-c)
    if (c == L'\n') PutByte(out, '\r');
    PutByte(out, value >= 0 && value <= 0xFF ? static_cast<char>(value) : '?');
}

void PutText(Output& out, const wchar_t* text) {
    for (; *text != L'\0'; ++text) PutChar(out, *text);
}

void PutHex8(Output& out, uint32_t code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4) PutByte(out, kDigits[(code >> shift) & 0xF]);
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

void EndMessage(Output& out) {
    if (out.Console) Flush(out);
}

// Exactly one of `code` and `text` is given, for the one conversion the format holds.
void PrintFormatted(Output& out, const wchar_t* format, const uint32_t* code, const wchar_t* text) {
    while (*format != L'\0') {
        if (code != nullptr && StartsWith(format, L"%.8X")) {
            PutHex8(out, *code);
            format += 4;
        } else if (text != nullptr && StartsWith(format, L"%s")) {
            PutText(out, text);
            format += 2;
        } else {
            PutChar(out, *format++);
        }
    }
    EndMessage(out);
}

}  // namespace

Output OpenOutput() {
    Output out;
    // As the C runtime judges a terminal: any character device gets each message
    // at once, so a prompt is visible before the wait that follows it.
    out.Console = platform::StandardOutputType() == platform::FileType::Character;
    return out;
}

void Print(Output& out, const wchar_t* message) {
    PutText(out, message);
    EndMessage(out);
}

void Print(Output& out, const wchar_t* format, uint32_t code) { PrintFormatted(out, format, &code, nullptr); }

void Print(Output& out, const wchar_t* format, const wchar_t* text) { PrintFormatted(out, format, nullptr, text); }

void Flush(Output& out) {
    if (out.Used == 0) return;
    platform::WriteStandardOutput(out.Buffer, out.Used);
    out.Used = 0;
}

}  // namespace ombrin
