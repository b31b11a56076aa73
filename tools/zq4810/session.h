// One run of the board, as the library wants it: initialise first and
// examine the result, close at the end. Shared by the commands that work on
// the counters.
#pragma once

#include "2KZQ4810/exports.h"

namespace Session {

constexpr int NoDevice = ZQ4810_FAILURE;

// AZQ4810INITIALIZE, shown as a step: the self-test mask, or NoDevice.
int open();

// AZQ4810CLOSE, shown as a step: its result.
int close();

// What a self-test mask means, in words.
const char* describeMask(int mask);

} // namespace Session
