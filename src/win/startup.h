// Start-up work that only Windows needs, done once before the logic runs.
#pragma once

namespace ombrin::platform {

// Restricts the library search of everything loaded from now on to the system
// directory where the system allows it, and installs the console control
// handler that records Ctrl+C, Ctrl+Break and the closing of the console.
void PrepareProcess();

}  // namespace ombrin::platform
