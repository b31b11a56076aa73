// The integer results every export follows, under the names the library's
// modules use; their values are the ones api/exports.h publishes. They are
// plain numbers, not a type of their own, because applications compare them
// as such.
#pragma once

#include "api/exports.h"
#include "common/types.h"

namespace ResultCode {

// Success. Also the answer to a mode selector outside 0..4, which writes
// nothing, and CHECKIFDRIVER's "the service key was already there".
constexpr i32 Success = ZQ4810_SUCCESS;

// A failure that has already been shown to the user. Operations made of
// several independent steps add one Failure per failed step, so 510, 765 or
// 1020 tell how many steps failed.
constexpr i32 Failure = ZQ4810_FAILURE;

// An argument refused before any port traffic (axis, multiplier).
constexpr i32 Refused = ZQ4810_REFUSED;

// A port read whose driver returned a length other than one byte.
constexpr i32 WrongLength = 1;

// CHECKIFDRIVER: the service key was created now and the user did not decline.
constexpr i32 FirstSetup = ZQ4810_FIRST_SETUP;

// CHECKIFDRIVER: the service key was created now and the user declined.
constexpr i32 Declined = ZQ4810_DECLINED;

} // namespace ResultCode
