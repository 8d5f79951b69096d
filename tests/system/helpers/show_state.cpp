// Test helper: prints what the installer changed in the current Wine prefix.
// Usage: show_state CLASS_GUID HARDWARE_ID
// Prints the class key's values (or that the class is not installed), then each
// device whose hardware IDs include HARDWARE_ID with its driver key's values.
#include <windows.h>

#include <setupapi.h>
#include <stdio.h>
#include <wchar.h>

namespace {

constexpr DWORD kInstanceIdLength = 200;  // the platform's device instance ID limit

void PrintValues(HKEY key, const wchar_t* indent) {
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0;
        BYTE data[2048];
        DWORD size = sizeof data - sizeof(wchar_t);
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        const wchar_t* shown = nameLength == 0 ? L"(default)" : name;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            data[size] = data[size + 1] = 0;
            wprintf(L"%ls%ls = \"%ls\"\n", indent, shown, reinterpret_cast<wchar_t*>(data));
        } else if (type == REG_DWORD && size == 4) {
            wprintf(L"%ls%ls = dword:%lu\n", indent, shown, *reinterpret_cast<DWORD*>(data));
        } else {
            wprintf(L"%ls%ls = (type %lu, %lu bytes)\n", indent, shown, type, size);
        }
    }
}

bool HasHardwareId(HDEVINFO set, SP_DEVINFO_DATA* device, const wchar_t* wanted) {
    wchar_t ids[2048] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                           sizeof ids - 2 * sizeof(wchar_t), nullptr)) {
        return false;
    }
    for (const wchar_t* id = ids; *id != L'\0'; id += wcslen(id) + 1) {
        if (_wcsicmp(id, wanted) == 0) return true;
    }
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: show_state CLASS_GUID HARDWARE_ID\n");
        return 2;
    }
    wchar_t path[128];
    _snwprintf(path, 128, L"System\\CurrentControlSet\\Control\\Class\\%ls", argv[1]);
    HKEY classKey;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &classKey) == ERROR_SUCCESS) {
        wprintf(L"class %ls:\n", argv[1]);
        PrintValues(classKey, L"    ");
        RegCloseKey(classKey);
    } else {
        wprintf(L"class %ls: no key\n", argv[1]);
    }

    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return 1;
    int found = 0;
    SP_DEVINFO_DATA device = {sizeof device};
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (!HasHardwareId(set, &device, argv[2])) continue;
        ++found;
        wchar_t instance[kInstanceIdLength] = L"?";
        SetupDiGetDeviceInstanceIdW(set, &device, instance, kInstanceIdLength, nullptr);
        wchar_t driver[256] = L"";
        SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DRIVER, nullptr, reinterpret_cast<BYTE*>(driver),
                                          sizeof driver - sizeof(wchar_t), nullptr);
        wprintf(L"device %ls: driver %ls\n", instance, *driver != L'\0' ? driver : L"(none)");
        HKEY driverKey = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
        if (driverKey != INVALID_HANDLE_VALUE) {
            PrintValues(driverKey, L"    ");
            RegCloseKey(driverKey);
        }
    }
    if (found == 0) wprintf(L"no device with hardware ID %ls\n", argv[2]);
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}
