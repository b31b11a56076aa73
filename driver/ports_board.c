/*
 * The real board: its ports sit in the processor's I/O space from the
 * registered base address on, one byte each.
 */
#include <ntddk.h>

#include "ports.h"

/* The x86 I/O space: ports 0 to 0xFFFF. */
#define IO_SPACE_SIZE 0x10000U

const char PortsKind[] = "port I/O";

static ULONG base;

int PortsStart(void* parametersKey, unsigned int address, unsigned int count)
{
    UNREFERENCED_PARAMETER(parametersKey);
    /* The whole block must lie in the I/O space, so base + offset never
     * wraps into some other device's ports. */
    if (address >= IO_SPACE_SIZE || count > IO_SPACE_SIZE - address) {
        return 0;
    }
    base = address;
    return 1;
}

unsigned char PortsRead(unsigned int offset)
{
    return READ_PORT_UCHAR((PUCHAR)(ULONG_PTR)(base + offset));
}

void PortsWrite(unsigned int offset, unsigned char value)
{
    WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)(base + offset), value);
}
