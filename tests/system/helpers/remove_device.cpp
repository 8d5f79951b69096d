// Test helper: undoes what a test installation left on the machine.
// Usage: remove_device [HARDWARE_ID...] [CLASS_GUID...]  (a GUID in braces)
// Removes every device, present or not, whose hardware IDs include a HARDWARE_ID;
// then uninstalls the driver packages those devices used (the published oemNN.inf
// names, read from their driver keys before the removal) from the driver store;
// then deletes each device setup class named. Prints one line for each thing it
// removed, or could not remove, and exits 0 only when all of it went.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>
#include <stdio.h>
#include <wchar.h>

namespace {

constexpr DWORD kInstanceIdLength = 200;  // the platform's device instance ID limit
constexpr int kMostPackages = 16;

int failures = 0;

void Report(bool done, const wchar_t* what, const wchar_t* name) {
    // One call a line: another process's output may stand beside it.
    wprintf(L"%ls %ls%ls\n", done ? L"removed" : L"FAILED to remove", what, name);
    if (!done) ++failures;
}

bool IsGuid(const wchar_t* text) { return text[0] == L'{'; }

// Whether one of the device's hardware IDs is among the arguments.
bool HasHardwareId(HDEVINFO set, SP_DEVINFO_DATA* device, int argc, wchar_t** argv) {
    wchar_t ids[2048] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                           sizeof ids - 2 * sizeof(wchar_t), nullptr)) {
        return false;
    }
    for (const wchar_t* id = ids; *id != L'\0'; id += wcslen(id) + 1) {
        for (int i = 1; i < argc; ++i) {
            if (!IsGuid(argv[i]) && _wcsicmp(id, argv[i]) == 0) return true;
        }
    }
    return false;
}

// The published name of the device's driver package (oemNN.inf), from its driver
// key's InfPath; false for none, or for an INF that came with the system.
bool PublishedInf(HDEVINFO set, SP_DEVINFO_DATA* device, wchar_t (&name)[MAX_PATH]) {
    HKEY key = SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return false;
    DWORD type = 0;
    DWORD size = sizeof name - sizeof(wchar_t);
    const LONG read = RegQueryValueExW(key, L"InfPath", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ) return false;
    name[size / sizeof(wchar_t)] = L'\0';
    // Only what a package install published; a path's last part is its name.
    const wchar_t* base = wcsrchr(name, L'\\');
    if (base != nullptr) wmemmove(name, base + 1, wcslen(base + 1) + 1);
    return _wcsnicmp(name, L"oem", 3) == 0;
}

// Wine exports CM_Delete_Class_Key as a stub that ends the program.
bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// CM_Delete_Class_Key from cfgmgr32 where the system has it, else the class's key.
bool DeleteClass(GUID* guid, const wchar_t* text) {
    using DeleteClassKey = CONFIGRET(WINAPI*)(LPGUID, ULONG);
    HMODULE cfgmgr = UnderWine() ? nullptr : LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    FARPROC found = cfgmgr != nullptr ? GetProcAddress(cfgmgr, "CM_Delete_Class_Key") : nullptr;
    if (found != nullptr) {
        const auto remove = reinterpret_cast<DeleteClassKey>(reinterpret_cast<void (*)()>(found));
        const CONFIGRET result = remove(guid, CM_DELETE_CLASS_SUBKEYS);
        if (result == CR_SUCCESS || result == CR_NO_SUCH_REGISTRY_KEY) return true;
        if (result != CR_CALL_NOT_IMPLEMENTED) return false;
    }
    wchar_t path[128];
    _snwprintf(path, 128, L"System\\CurrentControlSet\\Control\\Class\\%ls", text);
    const LONG removed = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    GUID guid = {};
    for (int i = 1; i < argc; ++i) {
        if (IsGuid(argv[i]) && CLSIDFromString(argv[i], &guid) != NOERROR) {
            fwprintf(stderr, L"not a GUID: %ls\nusage: remove_device [HARDWARE_ID...] [CLASS_GUID...]\n", argv[i]);
            return 2;
        }
    }
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return 1;
    wchar_t packages[kMostPackages][MAX_PATH];
    int packageCount = 0;
    SP_DEVINFO_DATA device = {sizeof device};
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (!HasHardwareId(set, &device, argc, argv)) continue;
        if (packageCount < kMostPackages && PublishedInf(set, &device, packages[packageCount])) ++packageCount;
        wchar_t instance[kInstanceIdLength] = L"?";
        SetupDiGetDeviceInstanceIdW(set, &device, instance, kInstanceIdLength, nullptr);
        // The set's later entries keep their indexes once one is removed.
        Report(SetupDiCallClassInstaller(DIF_REMOVE, set, &device) != FALSE, L"device ", instance);
    }
    SetupDiDestroyDeviceInfoList(set);
    for (int i = 0; i < packageCount; ++i) {
        Report(SetupUninstallOEMInfW(packages[i], SUOI_FORCEDELETE, nullptr) != FALSE, L"driver package ", packages[i]);
    }
    for (int i = 1; i < argc; ++i) {
        if (IsGuid(argv[i]) && CLSIDFromString(argv[i], &guid) == NOERROR) {
            Report(DeleteClass(&guid, argv[i]), L"class ", argv[i]);
        }
    }
    return failures == 0 ? 0 : 1;
}
