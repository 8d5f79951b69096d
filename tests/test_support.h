// Helpers shared by the unit tests.
#pragma once

#include <string>
#include <vector>

#include "command.h"
#include "fake_platform.h"

// The banner and usage text as the bytes that reach standard output.
inline const std::string kUsageBytes =
    "Ombrin - Driver Installer from Console - Copyright (C) 2026 The Ombrin Authors\r\n\r\n"
    "Usage: Ombrin.exe [/f /s /c] \"[HardwareId]\" \"[FullInfPath]\"\r\n"
    "with:  /f: Force Install : Installs the driver even if there is a better match\r\n"
    "       /s: Silent Install.\r\n"
    "       /c: Force ClassInstall32 installation from the given .inf file.\r\n\r\n"
    "Example: Ombrin.exe \"PCI\\VEN_1172&DEV_7A3C\" \"Velquist.inf\"\r\n\r\n";

// Runs the program with the given arguments after the program's name.
inline int RunWith(const std::vector<std::wstring>& arguments) {
    std::vector<const wchar_t*> argv{L"Ombrin.exe"};
    for (const std::wstring& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    return ombrin::RunCommand(static_cast<int>(argv.size() - 1), argv.data());
}
