/*
 * What the layout tables (kernel_layout.h for the DDK's structures,
 * pe_layout.h for winnt.h's) are made into: each width's values for the
 * emulator, and, compiled for a Windows target, a check that every row
 * matches the system's own header.
 */
#ifndef ZQ4810_EMULATOR_LAYOUT_H
#define ZQ4810_EMULATOR_LAYOUT_H

/* A structure of one width's values: LAYOUT_U32 or LAYOUT_U64 declares the
 * members, the others give the initialisers of each width. */
#define LAYOUT_U32(name, ...) uint32_t name;
#define LAYOUT_U64(name, ...) uint64_t name;
#define LAYOUT_FIELD_I386(name, type, member, i386, x64) i386,
#define LAYOUT_FIELD_X64(name, type, member, i386, x64) x64,
#define LAYOUT_VALUE_I386(name, what, i386, x64) i386,
#define LAYOUT_VALUE_X64(name, what, i386, x64) x64,

/* The check, in C (the kernel headers do not compile as C++). */
#ifdef _WIN64
#define LAYOUT_WIDTH_VALUE(i386, x64) (x64)
#else
#define LAYOUT_WIDTH_VALUE(i386, x64) (i386)
#endif
#define LAYOUT_CHECK_OFFSET(name, type, member, i386, x64)                     \
    _Static_assert(offsetof(type, member) == LAYOUT_WIDTH_VALUE(i386, x64), \
                   #type "." #member " is not where the table says");
#define LAYOUT_CHECK_SIZE(name, type, i386, x64) \
    _Static_assert(sizeof(type) == LAYOUT_WIDTH_VALUE(i386, x64), "sizeof(" #type ") is not what the table says");
#define LAYOUT_CHECK_CONSTANT(name, constant, i386, x64) \
    _Static_assert((constant) == LAYOUT_WIDTH_VALUE(i386, x64), #constant " is not what the table says");

#endif /* ZQ4810_EMULATOR_LAYOUT_H */
