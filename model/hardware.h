// The board's hardware as it answers at its ports: four axes of a 24-bit
// counter chip and two mode ports. Not the library's side, which sends the
// byte sequences (board/, CounterBoard), nor the simulated device's, which
// puts faults in front of this model (platform/sim/ports.cpp).
//
// This unit is freestanding: no C library, no heap and no host types, so the
// same source serves the host simulator (platform/sim/ports.cpp) and the
// simulated kernel driver (driver/ports_simulated.cpp). All state lives in a
// Board the caller owns.
#pragma once

namespace Hardware {

typedef unsigned char Byte;
typedef unsigned int Word;
static_assert(sizeof(Word) == 4, "a register word is 32 bits");

constexpr Word AxisCount = 4;
constexpr Word PortCount = 16;   // ports decoded by the board: 0..15
constexpr Word CounterMask = 0xFFFFFF;
constexpr Word FirstModePort = 8; // ports 8 and 9
constexpr Word ModePortCount = 2;

struct Axis {
    Word preset;      // 24-bit preset register, loaded byte by byte
    Word counter;     // 24-bit counter
    Word latch;       // output latch, read byte by byte
    Byte pointer;    // which byte (0..2) the data port reaches next
    Byte multiplier; // counts per encoder cycle: 1, 2 or 4
};

struct Board {
    Axis axes[AxisCount];
    Byte modePorts[ModePortCount];
};

// The state after power-on: everything zero, multiplier 1.
void powerOn(Board& board);

// A port read: an axis's data port gives the next latch byte, a control port
// reads 0, the mode ports give what was last written, the others 0xFF.
Byte readPort(Board& board, Word offset);

// A port write: the data port loads the next preset byte, the control port
// takes a command (0x01 byte pointer, 0x02 reset counter, 0x08 counter from
// preset, 0x10 latch from counter, any together) or a multiplier
// (0xA8, 0xB0, 0xB8), and ignores any other byte; the mode ports store the
// byte.
void writePort(Board& board, Word offset, Byte value);

// Encoder motion: cycles (negative backwards) times the axis's multiplier,
// wrapping at 24 bits.
void move(Board& board, Word axis, int cycles);

} // namespace Hardware
