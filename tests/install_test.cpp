#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kClassFailedFileNotFound =
    "SetupDiInstallClass failed with status : 00000002\r\n"
    "Extended Error : File not found.\r\r\n\r\n";  // the system's own CR LF, then the message's line feed
const std::string kUpdateFailedNoText = "UpdateDriverForPlugAndPlayDevices failed with status : E000020B\r\n";
const std::string kUpdateFailedAccessDenied =
    "UpdateDriverForPlugAndPlayDevices failed with status : 00000005\r\n"
    "Extended Error : Access denied.\r\r\n\r\n";
const std::string kPrompt = "Any key to continue...\r\n";

class InstallRunTest : public testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::script.SystemTexts = {{2, L"File not found.\r\n"}, {5, L"Access denied.\r\n"}};
    }
    void TearDown() override { EXPECT_EQ(fake::outstandingTexts, 0) << "a system text was not released"; }
};

TEST_F(InstallRunTest, SuccessfulUpdatePrintsNothingAndReturnsZero) {
    EXPECT_EQ(RunWith({L"ROOT\\OMBRIN", L"C:\\drv\\a.inf"}), 0);
    EXPECT_EQ(fake::calls, (Calls{"StandardOutputType", "FullPathName(C:\\drv\\a.inf)",
                                  "UpdateDriver(ROOT\\OMBRIN, C:\\drv\\a.inf, 0x00000000, reboot)"}));
    EXPECT_EQ(fake::output, "");
}

TEST_F(InstallRunTest, ClassInstallComesFirstWithForceCopyAndForceSetsTheInstallFlag) {
    EXPECT_EQ(RunWith({L"/f", L"/c", L"ROOT\\OMBRIN", L"C:\\drv\\a.inf"}), 0);
    EXPECT_EQ(fake::calls,
              (Calls{"StandardOutputType", "FullPathName(C:\\drv\\a.inf)", "InstallClass(C:\\drv\\a.inf, 0x02000000)",
                     "UpdateDriver(ROOT\\OMBRIN, C:\\drv\\a.inf, 0x00000001, reboot)"}));
    EXPECT_EQ(fake::output, "");
}

TEST_F(InstallRunTest, RelativeInfPathReachesBothCallsAbsolute) {
    EXPECT_EQ(RunWith({L"/c", L"H", L"drv\\a.inf"}), 0);
    EXPECT_EQ(fake::CallsNamed("InstallClass"), (Calls{"InstallClass(C:\\work\\drv\\a.inf, 0x02000000)"}));
    EXPECT_EQ(fake::CallsNamed("UpdateDriver"), (Calls{"UpdateDriver(H, C:\\work\\drv\\a.inf, 0x00000000, reboot)"}));
}

TEST_F(InstallRunTest, PathThePlatformCannotResolveIsPassedAsGiven) {
    fake::script.FullPathFails = true;
    EXPECT_EQ(RunWith({L"/c", L"H", L"x.inf"}), 0);
    EXPECT_EQ(fake::CallsNamed("InstallClass"), (Calls{"InstallClass(x.inf, 0x02000000)"}));
    EXPECT_EQ(fake::CallsNamed("UpdateDriver"), (Calls{"UpdateDriver(H, x.inf, 0x00000000, reboot)"}));
}

TEST_F(InstallRunTest, PathShortenedWhenMadeAbsoluteReachesBothCallsWhole) {
    EXPECT_EQ(RunWith({L"/c", L"H", L"C:\\drv\\.\\sub\\..\\a.inf"}), 0);
    EXPECT_EQ(fake::CallsNamed("InstallClass"), (Calls{"InstallClass(C:\\drv\\a.inf, 0x02000000)"}));
    EXPECT_EQ(fake::CallsNamed("UpdateDriver"), (Calls{"UpdateDriver(H, C:\\drv\\a.inf, 0x00000000, reboot)"}));
}

TEST_F(InstallRunTest, PathOf260CharactersOrMoreOnceMadeAbsoluteIsRefused) {
    // C:\work\ is 8 characters: 252 more make 260, 251 more make 259.
    EXPECT_EQ(RunWith({L"/c", L"H", std::wstring(252, L'r')}), -2);
    EXPECT_EQ(fake::output, "INF path too long once made absolute: at most 259 characters.\r\n" + kUsageBytes);
    EXPECT_TRUE(fake::CallsNamed("InstallClass").empty());
    EXPECT_TRUE(fake::CallsNamed("UpdateDriver").empty());

    fake::Reset();
    EXPECT_EQ(RunWith({L"H", std::wstring(251, L'r')}), 0);
    EXPECT_EQ(fake::CallsNamed("UpdateDriver"),
              (Calls{"UpdateDriver(H, C:\\work\\" + std::string(251, 'r') + ", 0x00000000, reboot)"}));
}

struct OutcomeCase {
    const char* Name;
    std::vector<std::wstring> Arguments;
    ombrin::platform::CallResult Class;
    ombrin::platform::CallResult Update;
    bool ConsoleOpens;
    std::string Output;
    int Status;
    bool Pauses;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.Name; }

const OutcomeCase kOutcomeCases[] = {
    {"ClassFailsUpdateSucceeds",
     {L"/c", L"H", L"C:\\a.inf"},
     {false, 2},
     {true, 0},
     true,
     kClassFailedFileNotFound,
     1,
     false},
    {"ClassFailureWithoutTextThenUpdateSucceeds",
     {L"/c", L"H", L"C:\\a.inf"},
     {false, 0xE0000203},
     {true, 0},
     true,
     "SetupDiInstallClass failed with status : E0000203\r\n",
     1,
     false},
    {"UpdateFailsSilently",
     {L"/s", L"H", L"C:\\a.inf"},
     {true, 0},
     {false, 0xE000020B},
     true,
     kUpdateFailedNoText,
     1,
     false},
    {"UpdateFailsWithTextSilently",
     {L"/s", L"H", L"C:\\a.inf"},
     {true, 0},
     {false, 5},
     true,
     kUpdateFailedAccessDenied,
     1,
     false},
    {"UpdateFailsThenPrompt",
     {L"H", L"C:\\a.inf"},
     {true, 0},
     {false, 5},
     true,
     kUpdateFailedAccessDenied + kPrompt,
     1,
     true},
    {"UpdateFailsWithoutConsolePromptsAndReturns",
     {L"H", L"C:\\a.inf"},
     {true, 0},
     {false, 0xE000020B},
     false,
     kUpdateFailedNoText + kPrompt,
     1,
     true},
    {"BothFail",
     {L"/c", L"H", L"C:\\a.inf"},
     {false, 2},
     {false, 5},
     true,
     kClassFailedFileNotFound + kUpdateFailedAccessDenied + kPrompt,
     1,
     true},
    {"BothFailSilently",
     {L"/c", L"/s", L"H", L"C:\\a.inf"},
     {false, 2},
     {false, 0xE000020B},
     true,
     kClassFailedFileNotFound + kUpdateFailedNoText,
     1,
     false},
    {"ClassFailureIsIgnoredWithoutSlashC", {L"H", L"C:\\a.inf"}, {false, 2}, {true, 0}, true, "", 0, false},
};

class OutcomeTest : public InstallRunTest, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(OutcomeTest, PrintsTheReportsAndGivesTheStatus) {
    const OutcomeCase& c = GetParam();
    fake::script.InstallClass = c.Class;
    fake::script.UpdateDriver = c.Update;
    fake::script.ConsoleOpens = c.ConsoleOpens;
    fake::script.Polls = {{true, 1, true, {fake::Key(30, 'a')}}};  // a key is already pending
    EXPECT_EQ(RunWith(c.Arguments), c.Status);
    EXPECT_EQ(fake::output, c.Output);
    EXPECT_EQ(!fake::CallsNamed("OpenConsoleInput").empty(), c.Pauses) << fake::Log();
}

INSTANTIATE_TEST_SUITE_P(Table, OutcomeTest, testing::ValuesIn(kOutcomeCases),
                         [](const testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.Name); });

// Ctrl+C, Ctrl+Break or the console closing, while the given call is made.
struct InterruptCase {
    const char* Name;
    std::vector<std::wstring> Arguments;
    ombrin::platform::CallResult Class;
    ombrin::platform::CallResult Update;
    std::string During;
    Calls InstallationCalls;  // the calls made, in order
    std::string Output;       // written out in full although standard output is a file
    int Status;
};

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.Name; }

const InterruptCase kInterruptCases[] = {
    {"BeforeAnyCall", {L"/c", L"H", L"C:\\a.inf"}, {true, 0}, {true, 0}, "StandardOutputType", {}, "", 1},
    {"DuringClassInstallation",
     {L"/c", L"H", L"C:\\a.inf"},
     {true, 0},
     {true, 0},
     "InstallClass",
     {"InstallClass"},
     "",
     1},
    {"DuringFailingClassInstallation",
     {L"/c", L"H", L"C:\\a.inf"},
     {false, 2},
     {true, 0},
     "InstallClass",
     {"InstallClass"},
     kClassFailedFileNotFound,
     1},
    {"DuringUpdate",
     {L"/c", L"H", L"C:\\a.inf"},
     {true, 0},
     {true, 0},
     "UpdateDriver",
     {"InstallClass", "UpdateDriver"},
     "",
     0},
    {"DuringFailingUpdateNoPause",
     {L"H", L"C:\\a.inf"},
     {true, 0},
     {false, 5},
     "UpdateDriver",
     {"UpdateDriver"},
     kUpdateFailedAccessDenied,
     1},
    {"InThePause",
     {L"H", L"C:\\a.inf"},
     {true, 0},
     {false, 0xE000020B},
     "CountConsoleInput",
     {"UpdateDriver"},
     kUpdateFailedNoText + kPrompt,
     1},
};

class InterruptTest : public InstallRunTest, public testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptTest, FinishesTheCallInProgressStartsNoOtherAndWritesEverythingOut) {
    const InterruptCase& c = GetParam();
    fake::script.InstallClass = c.Class;
    fake::script.UpdateDriver = c.Update;
    fake::script.ConsoleOpens = true;  // no key is ever pressed
    fake::script.InterruptDuring = c.During;
    EXPECT_EQ(RunWith(c.Arguments), c.Status);
    Calls made;
    for (const std::string& call : fake::calls) {
        for (const char* name : {"InstallClass", "UpdateDriver"}) {
            if (call.rfind(name, 0) == 0) made.emplace_back(name);
        }
    }
    EXPECT_EQ(made, c.InstallationCalls);
    EXPECT_EQ(fake::output, c.Output);
}

INSTANTIATE_TEST_SUITE_P(Table, InterruptTest, testing::ValuesIn(kInterruptCases),
                         [](const testing::TestParamInfo<InterruptCase>& info) {
                             return std::string(info.param.Name);
                         });

TEST_F(InstallRunTest, ReportReadsTheTextInEnglishAfterPrintingTheStatusLineAndReleasesItAfterPrinting) {
    fake::script.StandardOutput = ombrin::platform::FileType::Character;
    fake::script.InstallClass = {false, 2};
    EXPECT_EQ(RunWith({L"/c", L"H", L"C:\\a.inf"}), 1);
    EXPECT_EQ(
        fake::calls,
        (Calls{"StandardOutputType", "FullPathName(C:\\a.inf)", "InstallClass(C:\\a.inf, 0x02000000)", "Write(51)",
               "LookUpSystemText(0x00000002, 0x00000409)", "Write(37)",
               "ReleaseSystemText(File not found.\\x{D}\\x{A})", "UpdateDriver(H, C:\\a.inf, 0x00000000, reboot)"}));
}

TEST_F(InstallRunTest, SystemTextWithCharactersBeyondLatin1PrintsQuestionMarks) {
    fake::script.SystemTexts[5] = L"Acc\u00E8s refus\u00E9 \u2014 \u62D2\u5426.\r\n";
    fake::script.UpdateDriver = {false, 5};
    EXPECT_EQ(RunWith({L"/s", L"H", L"C:\\a.inf"}), 1);
    EXPECT_EQ(fake::output,
              "UpdateDriverForPlugAndPlayDevices failed with status : 00000005\r\n"
              "Extended Error : Acc\xE8s refus\xE9 ? ??.\r\r\n\r\n");
}

TEST_F(InstallRunTest, RestartRequestIsNotReported) {
    fake::script.SetsRebootRequired = true;
    EXPECT_EQ(RunWith({L"H", L"C:\\a.inf"}), 0);
    EXPECT_EQ(fake::output, "");
}

TEST_F(InstallRunTest, SilentSwitchIsNotPassedToThePlatform) {
    EXPECT_EQ(RunWith({L"/s", L"/f", L"H", L"C:\\a.inf"}), 0);
    EXPECT_EQ(fake::CallsNamed("UpdateDriver"), (Calls{"UpdateDriver(H, C:\\a.inf, 0x00000001, reboot)"}));
}

}  // namespace
