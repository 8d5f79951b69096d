// Standard output as bytes: each character up to 255 is one byte of that value,
// any other character is "?", and each line feed becomes carriage return and line
// feed. A console gets each message at once; a file or pipe gets the bytes in
// blocks of 4096, the last block when the program ends.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace ombrin {

inline constexpr size_t kOutputBufferSize = 4096;

struct Output {
    bool Console = false;
    size_t Used = 0;
    char Buffer[kOutputBufferSize] = {};
};

// Asks the platform whether standard output is a console or another character
// device.
Output OpenOutput();

// One message each. A format may hold "%.8X" (the code as eight upper-case hex
// digits) or "%s" (the text); any other character is written as it stands.
void Print(Output& out, const wchar_t* message);
void Print(Output& out, const wchar_t* format, uint32_t code);
void Print(Output& out, const wchar_t* format, const wchar_t* text);

// Writes whatever is held; called once when the program ends.
void Flush(Output& out);

}  // namespace ombrin
