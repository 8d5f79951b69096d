// Test helper: prints what the installer changed on this machine (or Wine prefix).
// Usage: show_state CLASS_GUID HARDWARE_ID [INF_NAME CERTIFICATE_SUBJECT]
// Prints the class key's values (or that the class is not installed), then each
// device whose hardware IDs include HARDWARE_ID with its driver key's values.
// With INF_NAME and CERTIFICATE_SUBJECT also each published driver package
// (%windir%\INF\oemNN.inf) whose original INF was INF_NAME, and each certificate
// in the machine's Root, TrustedPublisher and My stores whose subject holds
// CERTIFICATE_SUBJECT; or a line saying there is none.
#include <windows.h>

#include <setupapi.h>
#include <stdio.h>
#include <wchar.h>
#include <wincrypt.h>

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

// The name of the INF that a published one was made from: its original name, as
// the system recorded it when it published the package.
bool OriginalInfName(const wchar_t* published, wchar_t (&name)[MAX_PATH]) {
    alignas(8) BYTE buffer[8192];
    auto* info = reinterpret_cast<SP_INF_INFORMATION*>(buffer);
    if (!SetupGetInfInformationW(published, INFINFO_INF_NAME_IS_ABSOLUTE, info, sizeof buffer, nullptr)) return false;
    SP_ORIGINAL_FILE_INFO_W original = {};
    original.cbSize = sizeof original;
    if (!SetupQueryInfOriginalFileInformationW(info, 0, nullptr, &original)) return false;
    const wchar_t* base = wcsrchr(original.OriginalInfName, L'\\');
    _snwprintf(name, MAX_PATH, L"%ls", base != nullptr ? base + 1 : original.OriginalInfName);
    name[MAX_PATH - 1] = L'\0';
    return true;
}

void PrintPublishedPackages(const wchar_t* infName) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 16) return;
    wchar_t pattern[MAX_PATH];
    _snwprintf(pattern, MAX_PATH, L"%ls\\INF\\oem*.inf", folder);
    int found = 0;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            wchar_t path[MAX_PATH];
            wchar_t original[MAX_PATH];
            _snwprintf(path, MAX_PATH, L"%ls\\INF\\%ls", folder, entry.cFileName);
            path[MAX_PATH - 1] = L'\0';
            if (OriginalInfName(path, original) && _wcsicmp(original, infName) == 0) {
                wprintf(L"published driver package %ls (from %ls)\n", entry.cFileName, original);
                ++found;
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    if (found == 0) wprintf(L"no published driver package from %ls\n", infName);
}

void PrintCertificates(const wchar_t* subject) {
    const wchar_t* const stores[] = {L"Root", L"TrustedPublisher", L"My"};
    for (const wchar_t* storeName : stores) {
        int found = 0;
        HCERTSTORE store = CertOpenStore(
            CERT_STORE_PROV_SYSTEM_W, 0, 0,
            CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, storeName);
        if (store != nullptr) {
            PCCERT_CONTEXT certificate = nullptr;
            // Each call releases the certificate it is given and returns the next one that matches.
            while ((certificate = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                             CERT_FIND_SUBJECT_STR_W, subject, certificate)) !=
                   nullptr) {
                wchar_t name[256] = L"?";
                CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
                wprintf(L"certificate in %ls: %ls\n", storeName, name);
                ++found;
            }
            CertCloseStore(store, 0);
        }
        if (found == 0) wprintf(L"no certificate \"%ls\" in %ls\n", subject, storeName);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 5) {
        fwprintf(stderr, L"usage: show_state CLASS_GUID HARDWARE_ID [INF_NAME CERTIFICATE_SUBJECT]\n");
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
    if (argc == 5) {
        PrintPublishedPackages(argv[3]);
        PrintCertificates(argv[4]);
    }
    return 0;
}
