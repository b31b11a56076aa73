// The exported entry points. Each one is a direct call into the module that
// owns the operation: no checking, locking or translation in between.
#include "2KZQ4810/exports.h"

#include "board/counter_board.h"
#include "channel/port_channel.h"
#include "install/install.h"

int ZQ4810_CALL AZQ4810CHECKIFDRIVER(void)
{
    return DriverRegistration::checkIfDriver();
}

int ZQ4810_CALL AZQ4810SETBASEADDRESS(int baseAddress)
{
    return DriverRegistration::setBaseAddress(baseAddress);
}

int ZQ4810_CALL AZQ4810INITIALIZE(void)
{
    return CounterBoard::initialize();
}

int ZQ4810_CALL AZQ4810READPOSITION(int axis)
{
    return CounterBoard::readPosition(axis);
}

int ZQ4810_CALL AZQ4810RESETCOUNTER(int axis)
{
    return CounterBoard::resetCounter(axis);
}

int ZQ4810_CALL AZQ4810SETMULTIPLIER(int multiplier)
{
    return CounterBoard::setMultiplier(multiplier);
}

int ZQ4810_CALL AZQ4810CHANGEMODE(int selector, int mode)
{
    return CounterBoard::changeMode(selector, mode);
}

int ZQ4810_CALL AZQ4810PRWRITE(int axis, int value)
{
    return CounterBoard::presetWrite(axis, value);
}

int ZQ4810_CALL AZQ4810CLOSE(void)
{
    return PortChannel::closeChannel();
}

int ZQ4810_CALL AZQ4810DELETE(void)
{
    return DriverRemoval::deleteService();
}

int ZQ4810_CALL AZQ4810DELETEALL(void)
{
    return DriverRemoval::deleteAll();
}
