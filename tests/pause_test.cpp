#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "fake_platform.h"
#include "pause.h"
#include "test_support.h"

namespace {

using ombrin::IsKeyPress;
using ombrin::platform::InputRecord;

// Control-key state bits as the console documents them.
constexpr uint32_t kRightAlt = 0x0001;
constexpr uint32_t kLeftAlt = 0x0002;
constexpr uint32_t kRightCtrl = 0x0004;
constexpr uint32_t kLeftCtrl = 0x0008;
constexpr uint32_t kShift = 0x0010;
constexpr uint32_t kNumLock = 0x0020;
constexpr uint32_t kScrollLock = 0x0040;
constexpr uint32_t kCapsLock = 0x0080;
constexpr uint32_t kEnhanced = 0x0100;

std::set<uint16_t> Codes(std::initializer_list<std::pair<uint16_t, uint16_t>> ranges) {
    std::set<uint16_t> codes;
    for (auto [first, last] : ranges) {
        for (uint16_t code = first; code <= last; ++code) codes.insert(code);
    }
    return codes;
}

// Scan codes without a character that end the pause, by modifier state.
struct ModifierCase {
    const char* Name;
    uint32_t State;
    std::set<uint16_t> Counting;
};

void PrintTo(const ModifierCase& c, std::ostream* os) { *os << c.Name; }

const std::set<uint16_t> kAltCodes = Codes({{1, 28}, {30, 41}, {44, 53}, {59, 68}, {87, 88}});
const std::set<uint16_t> kCtrlCodes =
    Codes({{3, 3}, {15, 15}, {59, 68}, {71, 73}, {75, 75}, {77, 77}, {79, 83}, {87, 88}});
const std::set<uint16_t> kShiftCodes = Codes({{15, 15}, {59, 68}, {87, 88}});
const std::set<uint16_t> kNoModifierCodes = Codes({{59, 68}, {71, 73}, {75, 75}, {77, 77}, {79, 83}, {87, 88}});

// Lock-key states never change the decision; Alt wins over Ctrl, Ctrl over Shift.
const ModifierCase kModifierCases[] = {
    {"None", 0, kNoModifierCodes},
    {"NumAndCapsLock", kNumLock | kCapsLock, kNoModifierCodes},
    {"Shift", kShift, kShiftCodes},
    {"LeftCtrl", kLeftCtrl, kCtrlCodes},
    {"RightCtrl", kRightCtrl, kCtrlCodes},
    {"CtrlShift", kLeftCtrl | kShift, kCtrlCodes},
    {"LeftAlt", kLeftAlt, kAltCodes},
    {"RightAlt", kRightAlt, kAltCodes},
    {"AltCtrlShift", kLeftAlt | kRightCtrl | kShift, kAltCodes},
};

class ModifierTableTest : public testing::TestWithParam<ModifierCase> {};

TEST_P(ModifierTableTest, EveryScanCodeUpTo88WithoutCharacter) {
    const ModifierCase& c = GetParam();
    for (uint16_t scan = 0; scan <= 88; ++scan) {
        EXPECT_EQ(IsKeyPress(fake::Key(scan, '\0', c.State)), c.Counting.count(scan) == 1) << "scan code " << scan;
        // A character always counts; a release never does.
        EXPECT_TRUE(IsKeyPress(fake::Key(scan, 'k', c.State))) << "scan code " << scan;
        EXPECT_FALSE(IsKeyPress(fake::Key(scan, 'k', c.State, false))) << "scan code " << scan;
    }
    // Beyond the table a key without a character does not count.
    for (uint16_t scan = 89; scan < 512; ++scan) EXPECT_FALSE(IsKeyPress(fake::Key(scan, '\0', c.State)));
}

INSTANTIATE_TEST_SUITE_P(Table, ModifierTableTest, testing::ValuesIn(kModifierCases),
                         [](const testing::TestParamInfo<ModifierCase>& info) { return std::string(info.param.Name); });

TEST(KeyDecisionTest, EnhancedKeysAreTheKeypadEnterAndSlashAndTheNavigationBlock) {
    const std::set<uint16_t> enhanced{28, 53, 71, 72, 73, 75, 77, 79, 80, 81, 82, 83};
    for (uint32_t modifiers : {0u, kShift, kLeftCtrl, kRightAlt}) {
        for (uint16_t scan = 0; scan < 300; ++scan) {
            EXPECT_EQ(IsKeyPress(fake::Key(scan, '\0', kEnhanced | modifiers)), enhanced.count(scan) == 1)
                << "scan code " << scan << " modifiers " << modifiers;
        }
    }
    // Right Ctrl and right Alt on their own are enhanced keys that do not count.
    EXPECT_FALSE(IsKeyPress(fake::Key(29, '\0', kEnhanced | kRightCtrl)));
    EXPECT_FALSE(IsKeyPress(fake::Key(56, '\0', kEnhanced | kRightAlt)));
}

TEST(KeyDecisionTest, ModifierAndLockKeysAloneDoNotCount) {
    // Left Shift, right Shift, Ctrl, Alt, Caps Lock, Num Lock, Scroll Lock, each held with its own state.
    const std::pair<uint16_t, uint32_t> keys[] = {{42, kShift},    {54, kShift},   {29, kLeftCtrl},  {56, kLeftAlt},
                                                  {58, kCapsLock}, {69, kNumLock}, {70, kScrollLock}};
    for (auto [scan, state] : keys) {
        EXPECT_FALSE(IsKeyPress(fake::Key(scan, '\0', state))) << "scan code " << scan;
        EXPECT_FALSE(IsKeyPress(fake::Key(scan, '\0', state, false))) << "scan code " << scan;
    }
    // Shift with a letter counts.
    EXPECT_TRUE(IsKeyPress(fake::Key(30, 'A', kShift)));
}

TEST(KeyDecisionTest, RecordsOtherThanKeysNeverCount) {
    // Mouse, window size, menu and focus records, even with key-like fields set.
    for (uint16_t type : {0x0002, 0x0004, 0x0008, 0x0010, 0x0000, 0x0003}) {
        EXPECT_FALSE(IsKeyPress(InputRecord{type, true, 59, 'a', 0})) << "type " << type;
    }
}

class KeyCheckTest : public testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::script.ConsoleOpens = true;
    }
    ombrin::ConsoleInput console;
};

const InputRecord kLetter = fake::Key(30, 'a');
const InputRecord kMouse{2, false, 0, '\0', 0};

TEST_F(KeyCheckTest, ConsoleThatCannotBeOpenedIsNeverRetried) {
    fake::script.ConsoleOpens = false;
    EXPECT_FALSE(ombrin::KeyPressPending(console));
    EXPECT_FALSE(ombrin::KeyPressPending(console));
    EXPECT_EQ(fake::calls,
              (std::vector<std::string>{"ConsoleWindow", "IsLiveWindow", "WindowStationVisible", "OpenConsoleInput"}));
}

TEST_F(KeyCheckTest, PeekRefusedForManyRecordsIsRetriedWithHalfAsManyWithinTheCheck) {
    std::vector<InputRecord> records(10, kMouse);
    records[1] = kLetter;
    fake::script.Polls = {{true, 10, true, records, -1, 3}};
    EXPECT_TRUE(ombrin::KeyPressPending(console)) << fake::Log();
    EXPECT_EQ(fake::CallsNamed("PeekConsoleRecords"),
              (std::vector<std::string>{"PeekConsoleRecords(10)", "PeekConsoleRecords(5)", "PeekConsoleRecords(2)"}));
    EXPECT_EQ(fake::CallsNamed("ReleasePeekedRecords").size(), 1u);

    // A key behind the records one peek can hold is not seen in this round.
    records[1] = kMouse;
    records[4] = kLetter;
    fake::script.Polls = {{true, 10, true, records, -1, 3}};
    EXPECT_FALSE(ombrin::KeyPressPending(console));

    // A smaller peek that reports more records than it asked for is not read.
    records[0] = kLetter;
    fake::script.Polls = {{true, 10, true, records, 3, 3}};
    EXPECT_FALSE(ombrin::KeyPressPending(console));

    // A peek refused down to one record ends the check without a key.
    fake::calls.clear();
    fake::script.Polls = {{true, 6, false, records}};
    EXPECT_FALSE(ombrin::KeyPressPending(console));
    EXPECT_EQ(fake::CallsNamed("PeekConsoleRecords"),
              (std::vector<std::string>{"PeekConsoleRecords(6)", "PeekConsoleRecords(3)", "PeekConsoleRecords(1)"}));
    EXPECT_TRUE(fake::CallsNamed("ReleasePeekedRecords").empty());
}

TEST_F(KeyCheckTest, ConsoleIsOpenedOnceAndEachPeekIsReleased) {
    fake::script.Polls = {{true, 1, true, {kMouse}}, {true, 2, true, {kMouse, kLetter}}};
    EXPECT_FALSE(ombrin::KeyPressPending(console));
    EXPECT_TRUE(ombrin::KeyPressPending(console));
    EXPECT_EQ(fake::calls,
              (std::vector<std::string>{"ConsoleWindow", "IsLiveWindow", "WindowStationVisible", "OpenConsoleInput",
                                        "CountConsoleInput", "PeekConsoleRecords(1)", "ReleasePeekedRecords",
                                        "CountConsoleInput", "PeekConsoleRecords(2)", "ReleasePeekedRecords"}));
}

struct PollCase {
    const char* Name;
    fake::ConsolePoll Poll;
    bool Pending;
};

void PrintTo(const PollCase& c, std::ostream* os) { *os << c.Name; }

const PollCase kPollCases[] = {
    {"CountFails", {false, 1, true, {kLetter}}, false},
    {"NothingPending", {true, 0, true, {}}, false},
    {"PeekFails", {true, 1, false, {kLetter}}, false},
    {"PeekReadsNothing", {true, 1, true, {kLetter}, 0}, false},
    {"PeekReadsMoreThanAsked", {true, 1, true, {kLetter}, 2}, false},
    {"PeekReadsFewerThanCounted", {true, 3, true, {kMouse, kLetter}}, true},
    {"OnlyNonKeyRecords", {true, 2, true, {kMouse, fake::Key(30, 'a', 0, false)}}, false},
    {"KeyBehindOtherRecords", {true, 3, true, {kMouse, fake::Key(42, '\0', kShift), kLetter}}, true},
    {"FunctionKey", {true, 1, true, {fake::Key(63)}}, true},
    {"EnhancedArrow", {true, 1, true, {fake::Key(72, '\0', kEnhanced)}}, true},
};

class KeyCheckPollTest : public KeyCheckTest, public testing::WithParamInterface<PollCase> {};

TEST_P(KeyCheckPollTest, AnswersFromTheConsole) {
    fake::script.Polls = {GetParam().Poll};
    EXPECT_EQ(ombrin::KeyPressPending(console), GetParam().Pending) << fake::Log();
    EXPECT_EQ(fake::CallsNamed("PeekConsoleRecords").size(),
              fake::CallsNamed("ReleasePeekedRecords").size() + (GetParam().Poll.PeekSucceeds ? 0 : 1));
}

INSTANTIATE_TEST_SUITE_P(Table, KeyCheckPollTest, testing::ValuesIn(kPollCases),
                         [](const testing::TestParamInfo<PollCase>& info) { return std::string(info.param.Name); });

class PauseTest : public KeyCheckTest {
protected:
    ombrin::Output out = ombrin::OpenOutput();
};

TEST_F(PauseTest, PromptsThenWaitsThroughOtherRecordsUntilAKeyIsPressed) {
    fake::script.Polls = {{true, 0, true, {}},
                          {true, 1, true, {fake::Key(42, '\0', kShift)}},
                          {true, 2, true, {kMouse, fake::Key(30, 'a', 0, false)}},
                          {false, 0, true, {}},
                          {true, 1, true, {fake::Key(88)}}};
    fake::calls.clear();
    ombrin::Pause(out, console);
    ombrin::Flush(out);
    EXPECT_EQ(fake::output, "Any key to continue...\r\n");
    EXPECT_TRUE(fake::script.Polls.empty());
    EXPECT_EQ(fake::CallsNamed("YieldTimeSlice").size(), 4u);
}

TEST_F(PauseTest, PromptIsOnAConsoleBeforeTheFirstCheck) {
    fake::script.StandardOutput = ombrin::platform::FileType::Character;
    out = ombrin::OpenOutput();
    fake::script.Polls = {{true, 1, true, {kLetter}}};
    fake::calls.clear();
    ombrin::Pause(out, console);
    EXPECT_EQ(fake::calls.front(), "Write(24)");
    EXPECT_TRUE(fake::CallsNamed("YieldTimeSlice").empty());
}

TEST_F(PauseTest, WithoutAConsoleReturnsRightAfterThePrompt) {
    fake::script.ConsoleOpens = false;
    ombrin::Pause(out, console);
    ombrin::Flush(out);
    EXPECT_EQ(fake::output, "Any key to continue...\r\n");
    EXPECT_TRUE(fake::CallsNamed("YieldTimeSlice").empty());
}

TEST_F(PauseTest, OutputHeldForAFileIsWrittenBeforeTheFirstKeyCheckAndNotAgain) {
    fake::script.UpdateDriver = {false, 0xE000020B};
    fake::script.Polls = {{true, 0, true, {}}, {true, 1, true, {kLetter}}};
    EXPECT_EQ(RunWith({L"H", L"C:\\a.inf"}), 1);
    EXPECT_EQ(fake::output,
              "UpdateDriverForPlugAndPlayDevices failed with status : E000020B\r\nAny key to continue...\r\n");
    const auto write =
        std::find(fake::calls.begin(), fake::calls.end(), "Write(" + std::to_string(fake::output.size()) + ")");
    EXPECT_LT(write, std::find(fake::calls.begin(), fake::calls.end(), "ConsoleWindow")) << fake::Log();
    EXPECT_EQ(fake::CallsNamed("Write(").size(), 1u) << fake::Log();
}

// Whether a person could type in the console, one condition at a time.
struct ReachCase {
    const char* Name;
    bool HasWindow;
    bool WindowIsLive;
    bool StationVisible;
    bool Reachable;
};

void PrintTo(const ReachCase& c, std::ostream* os) { *os << c.Name; }

const ReachCase kReachCases[] = {
    {"VisibleStation", true, true, true, true},
    {"NoConsoleWindow", false, true, true, false},
    {"HandleThatIsNoWindow", true, false, true, false},  // CREATE_NO_WINDOW on Windows 10 1809
    {"StationNobodySees", true, true, false, false},     // a service, a task without a logged-on user
};

class ReachTest : public PauseTest, public testing::WithParamInterface<ReachCase> {};

TEST_P(ReachTest, WaitsAndAcknowledgesCtrlCOnlyWhereAPersonCanType) {
    const ReachCase& c = GetParam();
    fake::script.ConsoleHasWindow = c.HasWindow;
    fake::script.WindowIsLive = c.WindowIsLive;
    fake::script.StationVisible = c.StationVisible;
    fake::script.Polls = {{true, 0, true, {}}, {true, 1, true, {kLetter}}};
    ombrin::Pause(out, console);
    EXPECT_EQ(fake::output, "Any key to continue...\r\n");
    EXPECT_EQ(fake::CallsNamed("YieldTimeSlice").size(), c.Reachable ? 1u : 0u) << fake::Log();
    // Where nobody can type, the input device is never opened.
    EXPECT_EQ(fake::CallsNamed("OpenConsoleInput").size(), c.Reachable ? 1u : 0u) << fake::Log();

    ombrin::AcknowledgeInterrupt();
    EXPECT_EQ(fake::consoleDevice,
              c.Reachable ? "Stopping after the call in progress; press Ctrl+C again to end at once.\r\n" : "");
    EXPECT_EQ(fake::output, "Any key to continue...\r\n");
}

INSTANTIATE_TEST_SUITE_P(Table, ReachTest, testing::ValuesIn(kReachCases),
                         [](const testing::TestParamInfo<ReachCase>& info) { return std::string(info.param.Name); });

TEST_F(PauseTest, InterruptEndsTheWaitAtOnce) {
    fake::script.InterruptDuring = "YieldTimeSlice";  // no key ever arrives
    ombrin::Pause(out, console);
    ombrin::Flush(out);
    EXPECT_EQ(fake::output, "Any key to continue...\r\n");
    EXPECT_EQ(fake::CallsNamed("YieldTimeSlice").size(), 1u);
}

}  // namespace
