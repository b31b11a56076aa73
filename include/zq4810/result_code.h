// The integer results every export follows, under the names the library's
// modules use; their values are the ones the public header publishes. They are
// plain numbers, not a type of their own, because applications compare them
// as such.
#pragma once

#include "2KZQ4810/exports.h"

#include <stdint.h>

namespace ResultCode {

// Success. Also the answer to a mode selector outside 0..4, which writes
// nothing, and CHECKIFDRIVER's "the service key was already there".
constexpr int32_t Success = ZQ4810_SUCCESS;

// A failure that has already been shown to the user. Operations made of
// several independent steps add one Failure per failed step, so 510, 765 or
// 1020 tell how many steps failed.
constexpr int32_t Failure = ZQ4810_FAILURE;

// An argument refused before any port traffic (axis, multiplier).
constexpr int32_t Refused = ZQ4810_REFUSED;

// A port read whose driver returned a length other than one byte.
constexpr int32_t WrongLength = 1;

// CHECKIFDRIVER: the service key was created now and the user did not decline.
constexpr int32_t FirstSetup = ZQ4810_FIRST_SETUP;

// CHECKIFDRIVER: the service key was created now and the user declined.
constexpr int32_t Declined = ZQ4810_DECLINED;

} // namespace ResultCode
