/*
 * The real board: its ports sit in the processor's I/O space from the
 * registered base address on, one byte each.
 */
#include <ntddk.h>

#include "ports.h"

const char PortsKind[] = "port I/O";

static ULONG base;

int PortsStart(void* parametersKey, unsigned int address, unsigned int count)
{
    UNREFERENCED_PARAMETER(parametersKey);
    UNREFERENCED_PARAMETER(count);
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
