// Fuzzes argument sorting and the whole command: the input is a vector of UTF-16
// texts (little-endian units, each argument ended by a zero unit).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "arguments.h"
#include "command.h"
#include "fake_platform.h"

namespace {

void Require(bool held) {
    if (!held) std::abort();
}

// The rules read plainly: whole-argument switches without ASCII case, the first
// other argument is the hardware ID, the last the INF path, 260 or more refused.
struct Expected {
    ombrin::SortOutcome Outcome;
    std::wstring HardwareId, FullInfPath;
    bool Force = false, Silent = false, Class = false;
};

std::wstring Lower(const std::wstring& text) {
    std::wstring lower = text;
    for (wchar_t& c : lower) {
        if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
    }
    return lower;
}

Expected Reference(const std::vector<std::wstring>& arguments) {
    Expected expected;
    if (arguments.empty()) {
        expected.Outcome = ombrin::SortOutcome::NoArguments;
        return expected;
    }
    int positionals = 0;
    for (const std::wstring& argument : arguments) {
        if (argument.size() >= 260) {
            expected.Outcome = ombrin::SortOutcome::ArgumentTooLong;
            return expected;
        }
    }
    for (const std::wstring& argument : arguments) {
        const std::wstring lower = Lower(argument);
        if (lower == L"/f") {
            expected.Force = true;
        } else if (lower == L"/s") {
            expected.Silent = true;
        } else if (lower == L"/c") {
            expected.Class = true;
        } else if (positionals++ == 0) {
            expected.HardwareId = argument;
        } else {
            expected.FullInfPath = argument;
        }
    }
    expected.Outcome = positionals >= 2 ? ombrin::SortOutcome::Complete : ombrin::SortOutcome::Incomplete;
    return expected;
}

bool Terminated(const wchar_t (&text)[ombrin::kTextCapacity]) {
    for (wchar_t c : text) {
        if (c == L'\0') return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> arguments;
    std::wstring current;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == L'\0') {
            arguments.push_back(current);
            current.clear();
        } else {
            current += unit;
        }
    }
    if (!current.empty()) arguments.push_back(current);

    std::vector<const wchar_t*> argv{L"Ombrin.exe"};
    for (const std::wstring& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size() - 1);

    const Expected expected = Reference(arguments);
    ombrin::InstallRequest request;
    const ombrin::SortOutcome outcome = ombrin::SortArguments(argc, argv.data(), request);
    Require(outcome == expected.Outcome);
    if (outcome == ombrin::SortOutcome::Complete) {
        Require(Terminated(request.HardwareId) && Terminated(request.FullInfPath));
        Require(request.HardwareId == expected.HardwareId && request.FullInfPath == expected.FullInfPath);
        Require(request.ForceInstall == expected.Force && request.SilentInstall == expected.Silent &&
                request.ClassInstall == expected.Class);
    }

    // The whole command: every text the platform sees is terminated within 259
    // characters, and a long argument always gives the refusal.
    fake::Reset();
    fake::script.CurrentDirectory = L"C:\\fuzz\\";
    const int status = ombrin::RunCommand(argc, argv.data());
    Require(fake::longestPlatformText <= 259);
    Require(fake::outstandingTexts == 0);
    if (expected.Outcome == ombrin::SortOutcome::ArgumentTooLong) {
        Require(status == -2);
        Require(fake::output.rfind("Argument too long: at most 259 characters.\r\n", 0) == 0);
        Require(fake::CallsNamed("UpdateDriver").empty());
    } else if (expected.Outcome == ombrin::SortOutcome::NoArguments) {
        Require(status == -1);
    } else if (expected.Outcome == ombrin::SortOutcome::Incomplete) {
        Require(status == -2);
    } else {
        Require(status == 0 || status == -2);  // -2: the absolute path would be too long
        Require((status == 0) == (fake::CallsNamed("UpdateDriver").size() == 1));
        if (status == -2) {
            Require(fake::output.rfind("INF path too long once made absolute: at most 259 characters.\r\n", 0) == 0);
        }
    }
    return 0;
}
