// Reading the tool's numeric arguments, with the ranges the board accepts.
// Each check either gives the value or writes a one-line reason into the
// caller's buffer; nothing here calls the library.
#pragma once

#include <cstddef>

namespace Args {

constexpr int MinPreset = -8388608; // the 24-bit register, as a signed count
constexpr int MaxPreset = 16777215; // ... or as its unsigned bits

// The board takes 16 ports from its base on, and the driver starts it only
// where all of them lie inside the x86 I/O space (ports 0..0xFFFF).
constexpr int BoardPorts = 16;
constexpr int MaxBase = 0x10000 - BoardPorts;

struct Error {
    char text[160];
};

// A whole number in 32 bits: decimal or 0x hexadecimal, with an optional sign.
bool number(const char* text, const char* what, int* value, Error* error);

bool axis(const char* text, int* value, Error* error);
bool multiplier(const char* text, int* value, Error* error);
bool selector(const char* text, int* value, Error* error);
bool mode(const char* text, int* value, Error* error);
bool preset(const char* text, int* value, Error* error);
bool baseAddress(const char* text, int* value, Error* error);
bool count(const char* text, int* value, Error* error);

} // namespace Args
