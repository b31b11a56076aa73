#include "model/hardware.h"

namespace Hardware {

namespace {

constexpr Byte ResetPointer = 0x01;
constexpr Byte ResetCounter = 0x02;
constexpr Byte LoadFromPreset = 0x08;
constexpr Byte LatchCounter = 0x10;
constexpr Byte CommandMask = 0xC0; // commands have the two top bits clear

Byte byteOf(Word word, Byte index)
{
    return static_cast<Byte>(word >> (8 * index));
}

void advance(Axis& axis)
{
    axis.pointer = static_cast<Byte>((axis.pointer + 1) % 3);
}

void command(Axis& axis, Byte value)
{
    if (value & ResetPointer) {
        axis.pointer = 0;
    }
    if (value & ResetCounter) {
        axis.counter = 0;
    }
    if (value & LoadFromPreset) {
        axis.counter = axis.preset;
    }
    if (value & LatchCounter) {
        axis.latch = axis.counter;
    }
}

void control(Axis& axis, Byte value)
{
    switch (value) {
    case 0xA8: axis.multiplier = 1; return;
    case 0xB0: axis.multiplier = 2; return;
    case 0xB8: axis.multiplier = 4; return;
    default: break;
    }
    if ((value & CommandMask) == 0) {
        command(axis, value);
    }
}

} // namespace

void powerOn(Board& board)
{
    for (Axis& axis : board.axes) {
        axis = Axis{0, 0, 0, 0, 1};
    }
    for (Byte& port : board.modePorts) {
        port = 0;
    }
}

Byte readPort(Board& board, Word offset)
{
    if (offset < 2 * AxisCount) {
        Axis& axis = board.axes[offset / 2];
        if (offset % 2 != 0) {
            return 0;
        }
        const Byte value = byteOf(axis.latch, axis.pointer);
        advance(axis);
        return value;
    }
    if (offset - FirstModePort < ModePortCount) {
        return board.modePorts[offset - FirstModePort];
    }
    return 0xFF;
}

void writePort(Board& board, Word offset, Byte value)
{
    if (offset < 2 * AxisCount) {
        Axis& axis = board.axes[offset / 2];
        if (offset % 2 != 0) {
            control(axis, value);
            return;
        }
        const Word shift = 8u * axis.pointer;
        axis.preset = (axis.preset & ~(0xFFu << shift)) | static_cast<Word>(value) << shift;
        advance(axis);
        return;
    }
    if (offset - FirstModePort < ModePortCount) {
        board.modePorts[offset - FirstModePort] = value;
    }
}

void move(Board& board, Word axis, int cycles)
{
    if (axis >= AxisCount) {
        return;
    }
    Axis& target = board.axes[axis];
    const Word counts = static_cast<Word>(cycles) * target.multiplier;
    target.counter = (target.counter + counts) & CounterMask;
}

} // namespace Hardware
