// The installation run: the optional class installation, the driver update, a
// report for each failed call, and the pause after a failed update.
#pragma once

#include <stdint.h>

#include "arguments.h"
#include "output.h"
#include "pause.h"

namespace ombrin {

inline constexpr uint32_t kDiForceCopy = 0x02000000;       // DI_FORCECOPY
inline constexpr uint32_t kInstallFlagForce = 0x00000001;  // INSTALLFLAG_FORCE
inline constexpr uint32_t kEnglishUnitedStates = 0x0409;

enum class InstallResult { Succeeded, Failed };

// Prints the status line with `code`, then the system's text for it when the
// system has one in English.
void ReportFailure(Output& out, const wchar_t* statusLine, uint32_t code);

// Carries out a complete request. Failed when any call it made failed, or when an
// interrupt kept the driver update from being made.
InstallResult RunInstallation(const InstallRequest& request, Output& out, ConsoleInput& console);

}  // namespace ombrin
