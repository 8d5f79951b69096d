#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fake {

Script script;
std::vector<std::string> calls;
std::string output;
int outstandingTexts = 0;
int longestPlatformText = 0;

namespace {

int yields = 0;
std::vector<std::unique_ptr<std::wstring>> texts;  // keeps looked-up texts alive

// Wide text for the log: ASCII as it stands, anything else as \x{hex}.
std::string Narrow(const wchar_t* text) {
    std::string result;
    for (; *text != L'\0'; ++text) {
        const auto c = static_cast<uint32_t>(*text);
        if (c >= 0x20 && c < 0x7F) {
            result += static_cast<char>(c);
        } else {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\x{%X}", c);
            result += escaped;
        }
    }
    return result;
}

// A text handed to an installation or path call: read no further than its
// 260-character buffer allows.
std::string PlatformText(const wchar_t* text) {
    int length = 0;
    while (length < 260 && text[length] != L'\0') ++length;
    longestPlatformText = std::max(longestPlatformText, length);
    return length == 260 ? "(unterminated)" : Narrow(text);
}

std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

bool IsAbsolute(const std::wstring& path) {
    return (path.size() >= 2 && path[1] == L':') || path.rfind(L"\\\\", 0) == 0;
}

}  // namespace

void Reset() {
    script = Script{};
    calls.clear();
    output.clear();
    outstandingTexts = 0;
    longestPlatformText = 0;
    yields = 0;
    texts.clear();
}

std::vector<std::string> CallsNamed(const std::string& name) {
    std::vector<std::string> found;
    for (const std::string& call : calls) {
        if (call.rfind(name, 0) == 0) found.push_back(call);
    }
    return found;
}

std::string Log() {
    std::string log;
    for (const std::string& call : calls) log += call + "\n";
    return log;
}

ombrin::platform::InputRecord Key(uint16_t scanCode, char asciiChar, uint32_t state, bool down) {
    return {1, down, scanCode, asciiChar, state};
}

}  // namespace fake

namespace ombrin::platform {

using fake::calls;
using fake::script;

CallResult InstallClass(const wchar_t* infPath, uint32_t flags) {
    calls.push_back("InstallClass(" + fake::PlatformText(infPath) + ", " + fake::Hex8(flags) + ")");
    return script.InstallClass;
}

CallResult UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, uint32_t installFlags,
                        bool* rebootRequired) {
    calls.push_back("UpdateDriver(" + fake::PlatformText(hardwareId) + ", " + fake::PlatformText(infPath) + ", " +
                    fake::Hex8(installFlags) + (rebootRequired != nullptr ? ", reboot)" : ", null)"));
    if (rebootRequired != nullptr && script.SetsRebootRequired) *rebootRequired = true;
    return script.UpdateDriver;
}

uint32_t FullPathName(const wchar_t* path, wchar_t* out, uint32_t capacity) {
    calls.push_back("FullPathName(" + fake::PlatformText(path) + ")");
    if (script.FullPathFails) return 0;
    std::wstring full = path;
    if (!fake::IsAbsolute(full)) full = script.CurrentDirectory + full;
    if (full.size() + 1 > capacity) return static_cast<uint32_t>(full.size() + 1);
    for (size_t i = 0; i <= full.size(); ++i) out[i] = full.c_str()[i];
    return static_cast<uint32_t>(full.size());
}

const wchar_t* LookUpSystemText(uint32_t code, uint32_t language) {
    calls.push_back("LookUpSystemText(" + fake::Hex8(code) + ", " + fake::Hex8(language) + ")");
    const auto found = script.SystemTexts.find(code);
    if (found == script.SystemTexts.end()) return nullptr;
    fake::texts.push_back(std::make_unique<std::wstring>(found->second));
    ++fake::outstandingTexts;
    return fake::texts.back()->c_str();
}

void ReleaseSystemText(const wchar_t* text) {
    calls.push_back("ReleaseSystemText(" + fake::Narrow(text) + ")");
    --fake::outstandingTexts;
}

bool StandardOutputIsConsole() {
    calls.push_back("StandardOutputIsConsole");
    return script.StandardOutputIsConsole;
}

void WriteStandardOutput(const char* bytes, size_t count) {
    calls.push_back("Write(" + std::to_string(count) + ")");
    fake::output.append(bytes, count);
}

bool OpenConsoleInput(ConsoleHandle* handle) {
    calls.push_back("OpenConsoleInput");
    if (!script.ConsoleOpens) return false;
    static int console;
    *handle = &console;
    return true;
}

bool CountConsoleInput(ConsoleHandle, uint32_t* count) {
    calls.push_back("CountConsoleInput");
    if (script.Polls.empty()) {
        *count = 0;
        return true;
    }
    const fake::ConsolePoll& poll = script.Polls.front();
    if (!poll.CountSucceeds || poll.Count == 0) {
        const bool succeeds = poll.CountSucceeds;
        *count = 0;
        script.Polls.pop_front();
        return succeeds;
    }
    *count = poll.Count;
    return true;
}

bool PeekConsoleRecords(ConsoleHandle, uint32_t asked, PeekedRecords* peeked) {
    calls.push_back("PeekConsoleRecords(" + std::to_string(asked) + ")");
    if (script.Polls.empty()) return false;
    fake::ConsolePoll poll = script.Polls.front();
    script.Polls.pop_front();
    if (!poll.PeekSucceeds) return false;
    const size_t count = poll.ReportedCount >= 0 ? static_cast<size_t>(poll.ReportedCount) : poll.Records.size();
    // Zeroed room for as many records as the peek reports, however few it holds.
    auto* records = new InputRecord[std::max(count, poll.Records.size()) + 1]();
    for (size_t i = 0; i < poll.Records.size(); ++i) records[i] = poll.Records[i];
    *peeked = {records, static_cast<uint32_t>(count), records};
    return true;
}

void ReleasePeekedRecords(PeekedRecords* peeked) {
    calls.push_back("ReleasePeekedRecords");
    delete[] static_cast<InputRecord*>(peeked->Block);
    *peeked = {nullptr, 0, nullptr};
}

void YieldTimeSlice() {
    calls.push_back("YieldTimeSlice");
    if (++fake::yields > script.YieldLimit) {
        std::fprintf(stderr, "the pause kept waiting; calls so far:\n%s", fake::Log().c_str());
        std::abort();
    }
}

}  // namespace ombrin::platform
