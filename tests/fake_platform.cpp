#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fake {

Script script;
std::vector<std::string> calls;
std::string output;
std::string consoleDevice;
int outstandingTexts = 0;
int longestPlatformText = 0;

namespace {

int yields = 0;
std::vector<std::unique_ptr<std::wstring>> texts;  // keeps looked-up texts alive
ConsolePoll round;                                 // the console's state since the last count

// Logs a call; an interrupt scripted for this call arrives while it runs.
void Record(const std::string& call) {
    calls.push_back(call);
    if (!script.InterruptDuring.empty() && call.rfind(script.InterruptDuring, 0) == 0) script.Interrupted = true;
}

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

// As Windows resolves a path: joined to the current directory when relative,
// slashes turned into backslashes, "." segments dropped and ".." taking the
// segment before it, so the result may be shorter than what was given.
std::wstring ResolvePath(const std::wstring& given) {
    std::wstring path = given;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (!IsAbsolute(path)) path = script.CurrentDirectory + path;
    const size_t rootLength = path[1] == L':' ? 3 : 2;
    std::wstring resolved = path.substr(0, rootLength);
    std::vector<std::wstring> segments;
    size_t start = rootLength;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(L'\\', start), path.size());
        const std::wstring segment = path.substr(start, end - start);
        if (segment == L"..") {
            if (!segments.empty()) segments.pop_back();
        } else if (segment != L".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    for (size_t i = 0; i < segments.size(); ++i) resolved += (i > 0 ? L"\\" : L"") + segments[i];
    return resolved;
}

}  // namespace

void Reset() {
    script = Script{};
    calls.clear();
    output.clear();
    consoleDevice.clear();
    outstandingTexts = 0;
    longestPlatformText = 0;
    yields = 0;
    texts.clear();
    round = ConsolePoll{};
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

using fake::script;

CallResult InstallClass(const wchar_t* infPath, uint32_t flags) {
    fake::Record("InstallClass(" + fake::PlatformText(infPath) + ", " + fake::Hex8(flags) + ")");
    return script.InstallClass;
}

CallResult UpdateDriver(const wchar_t* hardwareId, const wchar_t* infPath, uint32_t installFlags,
                        bool* rebootRequired) {
    fake::Record("UpdateDriver(" + fake::PlatformText(hardwareId) + ", " + fake::PlatformText(infPath) + ", " +
                 fake::Hex8(installFlags) + (rebootRequired != nullptr ? ", reboot)" : ", null)"));
    if (rebootRequired != nullptr && script.SetsRebootRequired) *rebootRequired = true;
    return script.UpdateDriver;
}

uint32_t FullPathName(const wchar_t* path, wchar_t* out, uint32_t capacity) {
    fake::Record("FullPathName(" + fake::PlatformText(path) + ")");
    if (script.FullPathFails) {
        // What a failed call leaves in the buffer is not defined: leave something a
        // caller that used it anyway would pass on.
        const std::wstring junk = L"(unresolved)";
        if (capacity > junk.size()) std::copy_n(junk.c_str(), junk.size() + 1, out);
        return 0;
    }
    const std::wstring full = fake::ResolvePath(path);
    if (full.size() + 1 > capacity) return static_cast<uint32_t>(full.size() + 1);
    for (size_t i = 0; i <= full.size(); ++i) out[i] = full.c_str()[i];
    return static_cast<uint32_t>(full.size());
}

const wchar_t* LookUpSystemText(uint32_t code, uint32_t language) {
    fake::Record("LookUpSystemText(" + fake::Hex8(code) + ", " + fake::Hex8(language) + ")");
    const auto found = script.SystemTexts.find(code);
    if (found == script.SystemTexts.end()) return nullptr;
    fake::texts.push_back(std::make_unique<std::wstring>(found->second));
    ++fake::outstandingTexts;
    return fake::texts.back()->c_str();
}

void ReleaseSystemText(const wchar_t* text) {
    fake::Record("ReleaseSystemText(" + fake::Narrow(text) + ")");
    --fake::outstandingTexts;
}

FileType StandardOutputType() {
    fake::Record("StandardOutputType");
    return script.StandardOutput;
}

void WriteStandardOutput(const char* bytes, size_t count) {
    fake::Record("Write(" + std::to_string(count) + ")");
    fake::output.append(bytes, count);
}

bool InterruptRequested() { return script.Interrupted; }

WindowHandle ConsoleWindow() {
    fake::Record("ConsoleWindow");
    static int window;
    return script.ConsoleHasWindow ? &window : nullptr;
}

bool IsLiveWindow(WindowHandle) {
    fake::Record("IsLiveWindow");
    return script.WindowIsLive;
}

bool WindowStationVisible() {
    fake::Record("WindowStationVisible");
    return script.StationVisible;
}

void WriteConsoleDevice(const char* bytes, size_t count) {
    fake::Record("WriteConsoleDevice(" + std::to_string(count) + ")");
    fake::consoleDevice.append(bytes, count);
}

bool OpenConsoleInput(ConsoleHandle* handle) {
    fake::Record("OpenConsoleInput");
    if (!script.ConsoleOpens) return false;
    static int console;
    *handle = &console;
    return true;
}

// Each count begins a round of the key check: the console's state for it is the
// next scripted poll, or no input once the script has run out.
bool CountConsoleInput(ConsoleHandle, uint32_t* count) {
    fake::Record("CountConsoleInput");
    fake::round = fake::ConsolePoll{};
    if (!script.Polls.empty()) {
        fake::round = script.Polls.front();
        script.Polls.pop_front();
    }
    *count = fake::round.CountSucceeds ? fake::round.Count : 0;
    return fake::round.CountSucceeds;
}

bool PeekConsoleRecords(ConsoleHandle, uint32_t asked, PeekedRecords* peeked) {
    fake::Record("PeekConsoleRecords(" + std::to_string(asked) + ")");
    const fake::ConsolePoll& poll = fake::round;
    if (!poll.PeekSucceeds || asked > poll.PeekLimit) return false;
    // Exactly the records handed over, as the platform's block holds them: a
    // read past them is a read past the block.
    const size_t handed = std::min<size_t>(asked, poll.Records.size());
    auto* records = new InputRecord[handed];
    std::copy_n(poll.Records.begin(), handed, records);
    const size_t reported = poll.ReportedCount >= 0 ? static_cast<size_t>(poll.ReportedCount) : handed;
    *peeked = {records, static_cast<uint32_t>(reported), records};
    return true;
}

void ReleasePeekedRecords(PeekedRecords* peeked) {
    fake::Record("ReleasePeekedRecords");
    delete[] static_cast<InputRecord*>(peeked->Block);
    *peeked = {nullptr, 0, nullptr};
}

void YieldTimeSlice() {
    fake::Record("YieldTimeSlice");
    if (++fake::yields > script.YieldLimit) {
        std::fprintf(stderr, "the pause kept waiting; calls so far:\n%s", fake::Log().c_str());
        std::abort();
    }
}

}  // namespace ombrin::platform
