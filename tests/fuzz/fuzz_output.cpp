// Fuzzes the output stream and the failure report. Input: a mode byte (bit 0:
// console), a 32-bit code, then UTF-16 texts ended by zero units; each text is
// printed as a message, through "%s", and as a system text in a failure report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "install.h"
#include "output.h"

namespace {

void Require(bool held) {
    if (!held) std::abort();
}

// One character as the bytes standard output must get.
void AppendExpected(std::string& bytes, const std::wstring& text) {
    for (wchar_t c : text) {
        if (c == L'\n') bytes += '\r';
        bytes += static_cast<uint32_t>(c) <= 0xFF ? static_cast<char>(c) : '?';
    }
}

std::string Hex8(uint32_t code) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (int shift = 28; shift >= 0; shift -= 4) hex += digits[(code >> shift) & 0xF];
    return hex;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const bool console = (data[0] & 1) != 0;
    const uint32_t code = data[1] | (data[2] << 8) | (data[3] << 16) | (static_cast<uint32_t>(data[4]) << 24);
    std::vector<std::wstring> texts(1);
    for (size_t i = 5; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == L'\0') {
            texts.emplace_back();
        } else {
            texts.back() += unit;
        }
    }

    fake::Reset();
    fake::script.StandardOutput = console ? ombrin::platform::FileType::Character : ombrin::platform::FileType::Pipe;
    ombrin::Output out = ombrin::OpenOutput();
    std::string expected;
    auto messageDone = [&] {
        // A console holds nothing back; a file gets only whole 4096-byte blocks.
        if (console) {
            Require(fake::output == expected);
        } else {
            Require(fake::output.size() == expected.size() / 4096 * 4096);
            Require(expected.compare(0, fake::output.size(), fake::output) == 0);
        }
    };
    for (const std::wstring& text : texts) {
        ombrin::Print(out, text.c_str());
        AppendExpected(expected, text);
        messageDone();

        ombrin::Print(out, L"[%s]\n", text.c_str());
        AppendExpected(expected, L"[" + text + L"]\n");
        messageDone();

        fake::script.SystemTexts[code] = text;
        ombrin::ReportFailure(out, L"status : %.8X\n", code);
        expected += "status : " + Hex8(code) + "\r\n";
        AppendExpected(expected, L"Extended Error : " + text + L"\n");
        messageDone();
    }
    ombrin::Flush(out);
    Require(fake::output == expected);
    Require(fake::outstandingTexts == 0);
    for (size_t i = 0; i < fake::output.size(); ++i) {
        if (fake::output[i] == '\n') Require(i > 0 && fake::output[i - 1] == '\r');
    }
    for (const std::string& write : fake::CallsNamed("Write(")) Require(write != "Write(0)");
    return 0;
}
