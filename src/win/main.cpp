#include "../command.h"

int wmain(int argc, wchar_t** argv) { return ombrin::RunCommand(argc, argv); }
