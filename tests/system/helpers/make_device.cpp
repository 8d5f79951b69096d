// Test helper: creates a root-enumerated device with the given hardware ID in
// the current Wine prefix. Usage: make_device HARDWARE_ID [CLASS_GUID]
// Without a class GUID the device is of the system's "Unknown" class.
#include <windows.h>

#include <setupapi.h>
#include <stdio.h>
#include <wchar.h>

constexpr DWORD kInstanceIdLength = 200;  // the platform's device instance ID limit

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: make_device HARDWARE_ID [CLASS_GUID]\n");
        return 2;
    }
    // {4D36E97E-E325-11CE-BFC1-08002BE10318}: devices of no particular class.
    GUID guid = {0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    if (argc > 2 && CLSIDFromString(argv[2], &guid) != NOERROR) {
        fwprintf(stderr, L"not a GUID: %ls\n", argv[2]);
        return 2;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE) return 1;
    SP_DEVINFO_DATA device = {sizeof device};
    if (!SetupDiCreateDeviceInfoW(set, L"OMBRIN_SAMPLE", &guid, nullptr, nullptr, DICD_GENERATE_ID, &device)) {
        fwprintf(stderr, L"SetupDiCreateDeviceInfoW failed: %lu\n", GetLastError());
        return 1;
    }
    // The hardware IDs are a multi-string: the ID, then an empty text.
    wchar_t ids[512] = {};
    const size_t length = wcslen(argv[1]);
    if (length + 2 > sizeof ids / sizeof ids[0]) return 2;
    wmemcpy(ids, argv[1], length);
    if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(ids),
                                           static_cast<DWORD>((length + 2) * sizeof(wchar_t))) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
        fwprintf(stderr, L"registering the device failed: %lu\n", GetLastError());
        return 1;
    }
    wchar_t instance[kInstanceIdLength];
    if (SetupDiGetDeviceInstanceIdW(set, &device, instance, kInstanceIdLength, nullptr)) {
        wprintf(L"created %ls\n", instance);
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}
