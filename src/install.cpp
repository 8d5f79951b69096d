#include "install.h"

#include "platform.h"

namespace ombrin {
namespace {

// Owns a system text from its lookup until it has been printed.
struct SystemText {
    const wchar_t* Text;
    explicit SystemText(const wchar_t* text) : Text(text) {}
    SystemText(const SystemText&) = delete;
    SystemText& operator=(const SystemText&) = delete;
    ~SystemText() {
        if (Text != nullptr) platform::ReleaseSystemText(Text);
    }
};

}  // namespace

void ReportFailure(Output& out, const wchar_t* statusLine, uint32_t code) {
    Print(out, statusLine, code);
    const SystemText systemText(platform::LookUpSystemText(code, kEnglishUnitedStates));
    if (systemText.Text != nullptr) Print(out, L"Extended Error : %s\n", systemText.Text);
}

InstallResult RunInstallation(const InstallRequest& request, Output& out, ConsoleInput& console) {
    // The update may ask for a restart; the program leaves that to the operator.
    bool rebootRequired = false;
    InstallResult result = InstallResult::Succeeded;

    // An interrupt never cuts a call short, but no further call starts after it:
    // a driver update without the class it was asked to follow would be wrong.
    if (request.ClassInstall && !platform::InterruptRequested()) {
        const platform::CallResult installed = platform::InstallClass(request.FullInfPath, kDiForceCopy);
        if (!installed.succeeded) {
            ReportFailure(out, L"SetupDiInstallClass failed with status : %.8X\n", installed.error);
            result = InstallResult::Failed;
        }
    }
    if (platform::InterruptRequested()) return InstallResult::Failed;

    const uint32_t installFlags = request.ForceInstall ? kInstallFlagForce : 0;
    const platform::CallResult updated =
        platform::UpdateDriver(request.HardwareId, request.FullInfPath, installFlags, &rebootRequired);
    if (updated.succeeded) return result;

    ReportFailure(out, L"UpdateDriverForPlugAndPlayDevices failed with status : %.8X\n", updated.error);
    if (!request.SilentInstall && !platform::InterruptRequested()) Pause(out, console);
    return InstallResult::Failed;
}

}  // namespace ombrin
