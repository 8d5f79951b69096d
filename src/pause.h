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

// Whether a key press is pending among the records the console hands over.
// Never blocks and never removes input; false whenever the console cannot be
// read.
bool KeyPressPending(ConsoleInput& console);

// Prints the prompt and polls until a key press is pending or an interrupt is
// requested. Without a console, or in one without a window, no key can ever
// arrive, so it returns at once after the prompt.
void Pause(Output& out, ConsoleInput& console);

}  // namespace ombrin
