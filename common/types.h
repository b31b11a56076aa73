// Integer types shared by every module. The exports take and return 32-bit
// signed integers; port offsets and register bytes are unsigned.
#pragma once

#include <stdint.h>

using i32 = int32_t;
using u32 = uint32_t;
using u8 = uint8_t;
