/*
 * The emulated kernel's table of structure fields against the system's own
 * headers: compiled for i386 and for x64 by the Windows builds, it fails to
 * compile where a row differs from mingw-w64's kernel headers.
 */
#include <ntddk.h>
#include <stddef.h>

#include "emulator/kernel_layout.h"
#include "emulator/layout.h"

KERNEL_OFFSETS(LAYOUT_CHECK_OFFSET)
KERNEL_SIZES(LAYOUT_CHECK_SIZE)
KERNEL_CONSTANTS(LAYOUT_CHECK_CONSTANT)
