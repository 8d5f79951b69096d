// The pause after a failed update: a prompt, then a wait until a key press is
// pending on the console. The key press is left in the console's input queue.
#pragma once

#include "output.h"
#include "platform.h"

namespace ombrin {

// Console input record types and control-key states as the console reports them.
inline constexpr uint16_t kKeyEvent = 0x0001;
inline constexpr uint32_t kRightAltPressed = 0x0001;
inline constexpr uint32_t kLeftAltPressed = 0x0002;
inline constexpr uint32_t kRightCtrlPressed = 0x0004;
inline constexpr uint32_t kLeftCtrlPressed = 0x0008;
inline constexpr uint32_t kShiftPressed = 0x0010;
inline constexpr uint32_t kEnhancedKey = 0x0100;

// Whether one record is a key press that ends the pause: a key going down that
// carries a character or is one of the extended keys (function keys, the
// navigation keys, and some keys with a modifier).
bool IsKeyPress(const platform::InputRecord& record);

enum class ConsoleState { NotOpened, Open, Unavailable };

// The console input device, opened on the first key check and kept open until
// the process ends.
struct ConsoleInput {
    ConsoleState State = ConsoleState::NotOpened;
    platform::ConsoleHandle Handle = nullptr;
};

// Whether a person could press a key in this console: it has a window, that
// handle is a window, and it sits on a window station somebody sees. A service's
// console, or that of a task run without a logged-on user, has a window that no
// one can reach.
bool PersonCanType();

// Called once, by the console control handler on its own thread, at the first
// Ctrl+C or Ctrl+Break: where a person could type, tells them on the console
// itself that the program stops after the call in progress. Standard output is
// left alone, so captured output stays as it is.
void AcknowledgeInterrupt();

// Whether a key press is pending among the records the console hands over.
// Never blocks and never removes input; false whenever the console cannot be
// read.
bool KeyPressPending(ConsoleInput& console);

// Prints the prompt, writes out everything held for a file or pipe, and polls
// until a key press is pending or an interrupt is requested. Where no person can
// type (see PersonCanType) or there is no console, no key can ever arrive, so it
// returns at once after the prompt.
void Pause(Output& out, ConsoleInput& console);

}  // namespace ombrin
