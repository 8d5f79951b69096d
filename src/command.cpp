#include "command.h"

#include "arguments.h"
#include "install.h"
#include "output.h"
#include "pause.h"
#include "platform.h"

namespace ombrin {
namespace {

void PrintUsage(Output& out) {
    Print(out, L"Ombrin - Driver Installer from Console - Copyright (C) 2026 The Ombrin Authors\n\n");
    Print(out, L"Usage: Ombrin.exe [/f /s /c] \"[HardwareId]\" \"[FullInfPath]\"\n");
    Print(out, L"with:  /f: Force Install : Installs the driver even if there is a better match\n");
    Print(out, L"       /s: Silent Install.\n");
    Print(out, L"       /c: Force ClassInstall32 installation from the given .inf file.\n\n");
    Print(out, L"Example: Ombrin.exe \"PCI\\VEN_1172&DEV_7A3C\" \"Velquist.inf\"\n\n");
}

int RefuseLongText(Output& out, const wchar_t* reason) {
    Print(out, reason);
    PrintUsage(out);
    return kExitIncomplete;
}

// Makes the INF path absolute against the current directory, so that both calls
// use the file the operator named. False when the absolute path would not fit;
// when the platform cannot resolve it at all the path stays as given and the
// calls report what is wrong with it.
bool MakeInfPathAbsolute(InstallRequest& request) {
    wchar_t absolute[kTextCapacity];
    const uint32_t length = platform::FullPathName(request.FullInfPath, absolute, kTextCapacity);
    if (length == 0) return true;
    if (length >= kTextCapacity) return false;
    for (uint32_t i = 0; i <= length; ++i) request.FullInfPath[i] = absolute[i];
    return true;
}

int Outcome(int argc, const wchar_t* const* argv, Output& out, ConsoleInput& console) {
    InstallRequest request;
    switch (SortArguments(argc, argv, request)) {
        case SortOutcome::NoArguments:
            PrintUsage(out);
            return kExitNoArguments;
        case SortOutcome::Incomplete:
            PrintUsage(out);
            return kExitIncomplete;
        case SortOutcome::ArgumentTooLong:
            return RefuseLongText(out, L"Argument too long: at most 259 characters.\n");
        case SortOutcome::Complete:
            break;
    }
    if (!MakeInfPathAbsolute(request)) {
        return RefuseLongText(out, L"INF path too long once made absolute: at most 259 characters.\n");
    }
    return RunInstallation(request, out, console) == InstallResult::Succeeded ? kExitSucceeded : kExitInstallFailed;
}

}  // namespace

int RunCommand(int argc, const wchar_t* const* argv) {
    Output out = OpenOutput();
    ConsoleInput console;
    const int status = Outcome(argc, argv, out, console);
    Flush(out);
    return status;
}

}  // namespace ombrin
