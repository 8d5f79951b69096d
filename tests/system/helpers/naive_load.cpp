// Test helper: loads a library by its bare name with the default search, as a
// program open to planting would, and reports whether it loaded.
// Usage: naive_load NAME
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HMODULE module = LoadLibraryW(argv[1]);
    printf("%s\n", module != nullptr ? "loaded" : "not loaded");
    return module != nullptr ? 0 : 1;
}
