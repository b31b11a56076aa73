// How the tool shows what it does: one line per library call, with the call,
// its result and what the result means; its own complaints on standard error.
#pragma once

#include <cstdarg>

namespace Output {

// "  AZQ4810INITIALIZE()            -> 0      every axis passed the self-test"
// Flushed at once, so that the notices the library shows on standard error
// stay in order with the steps.
void step(const char* call, int result, const char* meaning);

// A plain line on standard output, printf-style, flushed.
void line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "zq4810: text" on standard error.
void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));
void complainList(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));

// The self-test mask as "axes 0, 2" / "axis 3".
const char* axesOf(int mask);

} // namespace Output
