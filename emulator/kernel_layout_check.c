/*
 * The emulated kernel's table of structure fields against the system's own
 * headers: compiled for i386 and for x64 by the Windows builds, it fails to
 * compile where a row differs from mingw-w64's kernel headers.
 */
#include <ntddk.h>
#include <stddef.h>

#include "emulator/kernel_layout.h"

#ifdef _WIN64
#define WIDTH_VALUE(i386, x64) (x64)
#else
#define WIDTH_VALUE(i386, x64) (i386)
#endif

#define CHECK_OFFSET(name, type, member, i386, x64) \
    _Static_assert(offsetof(type, member) == WIDTH_VALUE(i386, x64), #type "." #member " is not where the table says");
#define CHECK_SIZE(name, type, i386, x64) \
    _Static_assert(sizeof(type) == WIDTH_VALUE(i386, x64), "sizeof(" #type ") is not what the table says");
#define CHECK_CONSTANT(name, constant, i386, x64) \
    _Static_assert((constant) == WIDTH_VALUE(i386, x64), #constant " is not what the table says");

KERNEL_OFFSETS(CHECK_OFFSET)
KERNEL_SIZES(CHECK_SIZE)
KERNEL_CONSTANTS(CHECK_CONSTANT)
