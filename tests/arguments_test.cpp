#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arguments.h"
#include "test_support.h"

using ombrin::InstallRequest;
using ombrin::SortOutcome;

namespace {

struct SortCase {
    const char* Name;
    std::vector<std::wstring> Arguments;
    SortOutcome Outcome;
    std::wstring HardwareId;  // checked when the request is complete
    std::wstring FullInfPath;
    bool Force, Silent, Class;
    std::wstring Program = L"/f";  // element 0, the program's name: never a switch, never measured
};

void PrintTo(const SortCase& c, std::ostream* os) { *os << c.Name; }

const std::wstring k259(259, L'x');
const std::wstring k260(260, L'x');

const SortCase kSortCases[] = {
    {"NoArguments", {}, SortOutcome::NoArguments, L"", L"", false, false, false},
    {"OnlySwitches", {L"/f", L"/s"}, SortOutcome::Incomplete, L"", L"", false, false, false},
    {"OnePositional", {L"ROOT\\X"}, SortOutcome::Incomplete, L"", L"", false, false, false},
    {"SwitchesAndOnePositional", {L"/c", L"ROOT\\X", L"/f"}, SortOutcome::Incomplete, L"", L"", false, false, false},
    {"TwoTexts", {L"ROOT\\X", L"x.inf"}, SortOutcome::Complete, L"ROOT\\X", L"x.inf", false, false, false},
    {"AllSwitchesFirst", {L"/f", L"/s", L"/c", L"H", L"I"}, SortOutcome::Complete, L"H", L"I", true, true, true},
    {"UpperCaseSwitches", {L"/F", L"/S", L"/C", L"H", L"I"}, SortOutcome::Complete, L"H", L"I", true, true, true},
    {"SwitchesAfterTexts", {L"H", L"I", L"/s", L"/c"}, SortOutcome::Complete, L"H", L"I", false, true, true},
    {"SwitchesBetweenTexts", {L"H", L"/f", L"I"}, SortOutcome::Complete, L"H", L"I", true, false, false},
    {"RepeatedSwitch", {L"/f", L"/F", L"H", L"/f", L"I"}, SortOutcome::Complete, L"H", L"I", true, false, false},
    {"DashIsPositional", {L"-f", L"I"}, SortOutcome::Complete, L"-f", L"I", false, false, false},
    {"OtherSlashWordsArePositional", {L"/x", L"/force"}, SortOutcome::Complete, L"/x", L"/force", false, false, false},
    {"SwitchWithBlankIsPositional", {L"/f ", L" /s"}, SortOutcome::Complete, L"/f ", L" /s", false, false, false},
    // Only A to Z fold: a non-ASCII letter never makes a switch.
    {"NonAsciiSlashLetterIsPositional",
     {L"/\u0192", L"I"},
     SortOutcome::Complete,
     L"/\u0192",
     L"I",
     false,
     false,
     false},
    {"ThirdPositionalReplacesPath", {L"A", L"B", L"C"}, SortOutcome::Complete, L"A", L"C", false, false, false},
    {"EmptyArgumentsArePositional", {L"", L""}, SortOutcome::Complete, L"", L"", false, false, false},
    {"NonAsciiTexts",
     {L"ROOT\\\u00E9\u4E2D", L"C:\\d\u00FCr.inf"},
     SortOutcome::Complete,
     L"ROOT\\\u00E9\u4E2D",
     L"C:\\d\u00FCr.inf",
     false,
     false,
     false},
    {"LongestTexts", {k259, k259}, SortOutcome::Complete, k259, k259, false, false, false},
    {"TooLongHardwareId", {k260, L"I"}, SortOutcome::ArgumentTooLong, L"", L"", false, false, false},
    {"TooLongPath", {L"H", k260 + L"y"}, SortOutcome::ArgumentTooLong, L"", L"", false, false, false},
    {"TooLongDroppedMiddleText", {L"A", k260, L"C"}, SortOutcome::ArgumentTooLong, L"", L"", false, false, false},
    {"TooLongAloneWithSwitches", {L"/f", k260}, SortOutcome::ArgumentTooLong, L"", L"", false, false, false},
    // Started from a folder path of 260 characters or more.
    {"LongProgramName", {L"H", L"I"}, SortOutcome::Complete, L"H", L"I", false, false, false, k260 + L"\\Ombrin.exe"},
};

class SortArgumentsTest : public testing::TestWithParam<SortCase> {};

TEST_P(SortArgumentsTest, GivesTheOutcomeAndRequest) {
    const SortCase& c = GetParam();
    std::vector<const wchar_t*> argv{c.Program.c_str()};
    for (const std::wstring& argument : c.Arguments) argv.push_back(argument.c_str());
    InstallRequest request;
    ASSERT_EQ(ombrin::SortArguments(static_cast<int>(argv.size()), argv.data(), request), c.Outcome);
    if (c.Outcome != SortOutcome::Complete) return;
    EXPECT_EQ(std::wstring(request.HardwareId), c.HardwareId);
    EXPECT_EQ(std::wstring(request.FullInfPath), c.FullInfPath);
    EXPECT_EQ(request.ForceInstall, c.Force);
    EXPECT_EQ(request.SilentInstall, c.Silent);
    EXPECT_EQ(request.ClassInstall, c.Class);
}

INSTANTIATE_TEST_SUITE_P(Table, SortArgumentsTest, testing::ValuesIn(kSortCases),
                         [](const testing::TestParamInfo<SortCase>& info) { return std::string(info.param.Name); });

TEST(SortArgumentsTest, ClearsTheBufferBehindAShorterText) {
    InstallRequest request;
    for (wchar_t& c : request.FullInfPath) c = L'#';
    const wchar_t* argv[] = {L"Ombrin.exe", L"LONG-HARDWARE-ID", L"B", L"a.inf"};
    ASSERT_EQ(ombrin::SortArguments(4, argv, request), SortOutcome::Complete);
    for (int i = 5; i < ombrin::kTextCapacity; ++i) ASSERT_EQ(request.FullInfPath[i], L'\0') << "at " << i;
}

class UsageTest : public testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(UsageTest, NoArgumentsPrintsBannerAndUsageWithStatusMinusOne) {
    EXPECT_EQ(RunWith({}), -1);
    EXPECT_EQ(fake::output, kUsageBytes);
    EXPECT_TRUE(fake::CallsNamed("UpdateDriver").empty());
}

TEST_F(UsageTest, IncompleteCommandLinesPrintTheSameTextWithStatusMinusTwo) {
    for (const auto& arguments : std::vector<std::vector<std::wstring>>{{L"/f", L"/s"}, {L"ROOT\\X"}, {L"/c", L"H"}}) {
        fake::Reset();
        EXPECT_EQ(RunWith(arguments), -2);
        EXPECT_EQ(fake::output, kUsageBytes);
        EXPECT_TRUE(fake::CallsNamed("FullPathName").empty());
        EXPECT_TRUE(fake::CallsNamed("UpdateDriver").empty());
    }
}

TEST_F(UsageTest, TooLongArgumentIsRefusedBeforeAnyPlatformCall) {
    EXPECT_EQ(RunWith({L"/c", L"ROOT\\X", k260}), -2);
    EXPECT_EQ(fake::output, "Argument too long: at most 259 characters.\r\n" + kUsageBytes);
    EXPECT_TRUE(fake::CallsNamed("FullPathName").empty());
    EXPECT_TRUE(fake::CallsNamed("InstallClass").empty());
    EXPECT_TRUE(fake::CallsNamed("UpdateDriver").empty());
}

TEST_F(UsageTest, ArgumentOf259CharactersReachesThePlatformWhole) {
    const std::wstring id(259, L'I');
    EXPECT_EQ(RunWith({id, L"C:\\a.inf"}), 0);
    const auto updates = fake::CallsNamed("UpdateDriver");
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0], "UpdateDriver(" + std::string(259, 'I') + ", C:\\a.inf, 0x00000000, reboot)");
    EXPECT_EQ(fake::output, "");
}

}  // namespace
