#include "board/counter_board.h"

#include "channel/port_channel.h"
#include "zq4810/result_code.h"

using PortChannel::readPort;
using PortChannel::writePort;

namespace CounterBoard {

namespace {

// The value last composed for each mode port; only the low byte is sent.
// They belong to the process, not to a handle, and every board start sets
// them to zero.
i32 modeShadow8;
i32 modeShadow9;

bool isAxis(i32 axis)
{
    return axis >= 0 && axis < AxisCount;
}

i32 writeData(i32 axis, u8 value)
{
    return writePort(AxisPortMap[axis].data, value);
}

i32 writeControl(i32 axis, u8 value)
{
    return writePort(AxisPortMap[axis].control, value);
}

i32 readData(i32 axis)
{
    return readPort(AxisPortMap[axis].data);
}

// Sets one axis up and loads the pattern into its counter and latch. Write
// results are not examined: a failed write has shown its notice, and the
// loop-back read that follows will not match.
void setUpAxis(i32 axis)
{
    writeData(axis, StartupDataByte);
    writeControl(axis, Command::StartupSetting1);
    writeControl(axis, Command::StartupSetting2);
    writeControl(axis, MultiplierCodeTable[4]);
    writeControl(axis, Command::ResetCounter);
    writeControl(axis, Command::ResetBytePointer);
    for (u8 byte : SelfTestPattern) {
        writeData(axis, byte);
    }
    writeControl(axis, Command::LoadCounterFromPreset);
    writeControl(axis, Command::LatchCounter);
    writeControl(axis, Command::ResetBytePointer);
}

// Reads the pattern back, stopping at the first byte that differs. A failed
// read yields 1 or 255, neither of which is a pattern byte.
bool echoesPattern(i32 axis)
{
    for (u8 byte : SelfTestPattern) {
        if (readData(axis) != byte) {
            return false;
        }
    }
    return true;
}

} // namespace

i32 initialize()
{
    if (PortChannel::openChannel() == ResultCode::Failure) {
        return ResultCode::Failure;
    }
    return startBoard();
}

i32 startBoard()
{
    modeShadow8 = 0;
    modeShadow9 = 0;
    writePort(ModePort8, modeShadow8);
    writePort(ModePort9, modeShadow9);

    i32 failed = 0;
    for (i32 axis = 0; axis < AxisCount; ++axis) {
        setUpAxis(axis);
        if (!echoesPattern(axis)) {
            failed |= 1 << axis;
        }
    }
    return failed;
}

i32 readPosition(i32 axis)
{
    if (!isAxis(axis)) {
        return ResultCode::Refused;
    }
    writeControl(axis, Command::LatchCounter);
    writeControl(axis, Command::ResetBytePointer);
    // Each read counts as a byte whatever it gave: a failed read contributes
    // 1 or 0xFF, and only its notice tells the caller.
    const u32 low = static_cast<u8>(readData(axis));
    const u32 middle = static_cast<u8>(readData(axis));
    const u32 high = static_cast<u8>(readData(axis));
    const u32 count = low | middle << 8 | high << 16;
    // Sign-extend from bit 23.
    return static_cast<i32>(count << 8) >> 8;
}

i32 resetCounter(i32 axis)
{
    if (!isAxis(axis)) {
        return ResultCode::Refused;
    }
    return writeControl(axis, Command::ResetCounter);
}

i32 presetWrite(i32 axis, i32 value)
{
    if (!isAxis(axis)) {
        return ResultCode::Refused;
    }
    const u32 bits = static_cast<u32>(value);
    // Bits 24..31 are not sent: the preset register holds 24 bits.
    // One statement per write: the bytes must go out in this order.
    i32 result = writeControl(axis, Command::ResetBytePointer);
    result += writeData(axis, static_cast<u8>(bits));
    result += writeData(axis, static_cast<u8>(bits >> 8));
    result += writeData(axis, static_cast<u8>(bits >> 16));
    return result;
}

i32 setMultiplier(i32 multiplier)
{
    if (multiplier != 1 && multiplier != 2 && multiplier != 4) {
        return ResultCode::Refused;
    }
    i32 result = 0;
    for (i32 axis = 0; axis < AxisCount; ++axis) {
        result += writeControl(axis, MultiplierCodeTable[multiplier]);
    }
    return result;
}

i32 changeMode(i32 selector, i32 mode)
{
    // Only the field's four bits are taken, so a mode above 15 never spills
    // into the neighbouring field.
    const i32 field = mode & 0x0F;
    // Compared unsigned: a negative selector counts as above 4.
    switch (static_cast<u32>(selector)) {
    case 0:
        modeShadow8 = (modeShadow8 & 0xF0) | field;
        return writePort(ModePort8, modeShadow8);
    case 1:
        modeShadow8 = (modeShadow8 & 0x0F) | field << 4;
        return writePort(ModePort8, modeShadow8);
    case 2:
        modeShadow9 = (modeShadow9 & 0xF0) | field;
        return writePort(ModePort9, modeShadow9);
    case 3:
        modeShadow9 = (modeShadow9 & 0x0F) | field << 4;
        return writePort(ModePort9, modeShadow9);
    case 4:
        // Both shadows are set before the first write.
        modeShadow8 = field | field << 4;
        modeShadow9 = field | field << 4;
        {
            const i32 result = writePort(ModePort8, modeShadow8);
            return result + writePort(ModePort9, modeShadow9);
        }
    default:
        return ResultCode::Success;
    }
}

} // namespace CounterBoard
