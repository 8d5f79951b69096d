#include "../command.h"
#include "startup.h"

int wmain(int argc, wchar_t** argv) {
    ombrin::platform::PrepareProcess();
    return ombrin::RunCommand(argc, argv);
}
