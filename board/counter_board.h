// CounterBoard: the library's side of the board, the counter exports turned
// into byte sequences on the board's ports, every byte one request through
// PortChannel. How the board answers them is modelled in model/hardware.h.
//
// Four axes, each a 24-bit counter behind a data port (three bytes, least
// significant first, into the preset and out of the output latch) and a
// control port (one-byte commands). Two mode ports hold four 4-bit fields.
#pragma once

#include "common/types.h"

namespace CounterBoard {

struct AxisPorts {
    u32 data;
    u32 control;
};

constexpr i32 AxisCount = 4;

constexpr AxisPorts AxisPortMap[AxisCount] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}};

// Indexed by the count multiplier itself; 0 marks a multiplier the board
// does not have.
constexpr u8 MultiplierCodeTable[] = {0x00, 0xA8, 0xB0, 0x00, 0xB8};

// The two mode ports, each holding two 4-bit mode fields.
constexpr u32 ModePort8 = 8;
constexpr u32 ModePort9 = 9;

// Control-port commands.
namespace Command {
constexpr u8 ResetBytePointer = 0x01;
constexpr u8 ResetCounter = 0x02;
constexpr u8 LoadCounterFromPreset = 0x08;
constexpr u8 LatchCounter = 0x10;
constexpr u8 StartupSetting1 = 0x98;
constexpr u8 StartupSetting2 = 0xC1;
} // namespace Command

// The data byte each axis is sent first at board start.
constexpr u8 StartupDataByte = 0x0E;

// The loop-back pattern, least significant byte first.
constexpr u8 SelfTestPattern[3] = {0x12, 0x57, 0xDA};

// Opens the channel and starts the board: 255 when the device cannot be
// opened (no port traffic), else the self-test failure mask.
i32 initialize();

// Resets both mode ports, sets every axis up and runs its loop-back
// self-test. Returns the failure mask 0..15, bit n for axis n.
i32 startBoard();

// The axis's 24-bit count, sign-extended; 1 for an axis outside 0..3.
i32 readPosition(i32 axis);

// 0 or 255; 1 for an axis outside 0..3.
i32 resetCounter(i32 axis);

// Loads bits 0..23 of value into the axis's preset register. The sum of the
// four write results; 1 for an axis outside 0..3.
i32 presetWrite(i32 axis, i32 value);

// The sum of the four write results; 1 for a multiplier other than 1, 2, 4.
i32 setMultiplier(i32 multiplier);

// Sets mode field selector (0..3), or all four (4), to mode. The write
// result (the sum of both for 4); 0 for any other selector, with no traffic.
i32 changeMode(i32 selector, i32 mode);

} // namespace CounterBoard
