#include "arguments.h"

namespace ombrin {
namespace {

wchar_t FoldAsciiCase(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool IsSwitch(const wchar_t* argument, const wchar_t* switchText) {
    for (;; ++argument, ++switchText) {
        if (FoldAsciiCase(*argument) != FoldAsciiCase(*switchText)) return false;
        if (*argument == L'\0') return true;
    }
}

// Copies a text already known to be shorter than the buffer, then clears the rest.
void CopyText(wchar_t (&buffer)[kTextCapacity], const wchar_t* text) {
    int i = 0;
    for (; text[i] != L'\0'; ++i) buffer[i] = text[i];
    for (; i < kTextCapacity; ++i) buffer[i] = L'\0';
}

}  // namespace

int BoundedLength(const wchar_t* text, int limit) {
    int length = 0;
    while (length < limit && text[length] != L'\0') ++length;
    return length;
}

SortOutcome SortArguments(int argc, const wchar_t* const* argv, InstallRequest& request) {
    if (argc == 1) return SortOutcome::NoArguments;
    // A long argument is refused before anything is copied: the platform must
    // never see a text that was cut short.
    for (int i = 1; i < argc; ++i) {
        if (BoundedLength(argv[i], kTextCapacity) == kTextCapacity) return SortOutcome::ArgumentTooLong;
    }
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        if (IsSwitch(argument, L"/f")) {
            request.ForceInstall = true;
        } else if (IsSwitch(argument, L"/s")) {
            request.SilentInstall = true;
        } else if (IsSwitch(argument, L"/c")) {
            request.ClassInstall = true;
        } else if (request.Positionals == PositionalCount::None) {
            CopyText(request.HardwareId, argument);
            request.Positionals = PositionalCount::One;
        } else {
            CopyText(request.FullInfPath, argument);
            request.Positionals = PositionalCount::TwoOrMore;
        }
    }
    return request.Positionals == PositionalCount::TwoOrMore ? SortOutcome::Complete : SortOutcome::Incomplete;
}

}  // namespace ombrin
