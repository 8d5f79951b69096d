// Fuzzes the key decision and the key check. Input: records of 8 bytes each
// (type, flags, scan code, character, control-key state), followed by a byte that
// scripts how the console answers, and one with the most records a peek may ask for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <set>
#include <vector>

#include "fake_platform.h"
#include "pause.h"

namespace {

void Require(bool held) {
    if (!held) std::abort();
}

std::set<unsigned> Keys(std::initializer_list<std::initializer_list<unsigned>> groups) {
    std::set<unsigned> keys;
    for (auto group : groups) keys.insert(group.begin(), group.end());
    return keys;
}

// The keys that end the pause, named as they stand on the usual keyboard.
const std::initializer_list<unsigned> kFunctionKeys = {59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 87, 88};
const std::initializer_list<unsigned> kKeypadNavigation = {71, 72, 73, 75, 77, 79, 80, 81, 82, 83};
const std::initializer_list<unsigned> kAltRows = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                                  18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 30, 31, 32, 33, 34, 35,
                                                  36, 37, 38, 39, 40, 41, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53};
const std::set<unsigned> kPlain = Keys({kFunctionKeys, kKeypadNavigation});
const std::set<unsigned> kShift = Keys({kFunctionKeys, {15}});
const std::set<unsigned> kCtrl = Keys({kFunctionKeys, kKeypadNavigation, {3, 15}});
const std::set<unsigned> kAlt = Keys({kFunctionKeys, kAltRows});
const std::set<unsigned> kEnhanced = Keys({kKeypadNavigation, {28, 53}});

bool ReferenceKeyPress(const ombrin::platform::InputRecord& record) {
    if (record.EventType != 1 || !record.KeyDown) return false;
    if (record.AsciiChar != 0) return true;
    const uint32_t state = record.ControlKeyState;
    const std::set<unsigned>& table = (state & 0x0100)   ? kEnhanced
                                      : (state & 0x0003) ? kAlt
                                      : (state & 0x000C) ? kCtrl
                                      : (state & 0x0010) ? kShift
                                                         : kPlain;
    return table.count(record.ScanCode) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<ombrin::platform::InputRecord> records;
    std::vector<bool> keyPresses;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint8_t* r = data + i;
        // The low types are the ones consoles produce; others are kept rare but possible.
        const uint16_t type =
            (r[0] & 0x80) ? static_cast<uint16_t>(r[0] << 8 | r[1]) : static_cast<uint16_t>(r[0] & 0x1F);
        const ombrin::platform::InputRecord record{type, (r[1] & 1) != 0, static_cast<uint16_t>(r[2] | (r[3] & 1) << 8),
                                                   static_cast<char>(r[4]),
                                                   static_cast<uint32_t>(r[5] | r[6] << 8 | r[7] << 16)};
        const bool decided = ombrin::IsKeyPress(record);
        Require(decided == ReferenceKeyPress(record));
        keyPresses.push_back(decided);
        records.push_back(record);
    }
    const uint8_t script = i < size ? data[i] : 0;
    const uint8_t limit = i + 1 < size ? data[i + 1] : 0;

    // The key check over the same records, with the console answering as scripted.
    fake::Reset();
    fake::script.ConsoleOpens = (script & 1) == 0;
    fake::ConsolePoll poll;
    poll.CountSucceeds = (script & 2) == 0;
    poll.Count = static_cast<uint32_t>(records.size());
    poll.PeekSucceeds = (script & 4) == 0;
    poll.Records = records;
    if (script & 8) poll.ReportedCount = static_cast<int>(records.size()) + 1;  // more than asked
    if (script & 16) poll.PeekLimit = limit;                                    // a console that refuses large peeks
    fake::script.Polls = {poll};
    ombrin::ConsoleInput console;
    const bool pending = ombrin::KeyPressPending(console);

    // A refused peek is asked again for half as many records, down to one; the
    // first one granted decides, from the records it holds.
    const bool reached = fake::script.ConsoleOpens && poll.CountSucceeds && !records.empty();
    size_t asked = records.size();
    size_t peeks = reached ? 1 : 0;
    while (reached && asked > 1 && (!poll.PeekSucceeds || asked > poll.PeekLimit)) {
        asked /= 2;
        ++peeks;
    }
    const bool granted = reached && poll.PeekSucceeds && asked <= poll.PeekLimit;
    bool keyInGranted = false;
    for (size_t k = 0; granted && k < asked; ++k) keyInGranted = keyInGranted || keyPresses[k];
    Require(pending == (granted && !(script & 8) && keyInGranted));
    // Whatever a granted peek handed over goes back.
    Require(fake::CallsNamed("PeekConsoleRecords").size() == peeks);
    Require(fake::CallsNamed("ReleasePeekedRecords").size() == (granted ? 1 : 0));
    return 0;
}
