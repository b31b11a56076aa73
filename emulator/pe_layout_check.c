/*
 * The loader's table of PE header fields against winnt.h: compiled for i386
 * and for x64 by the Windows builds, it fails to compile where a row differs.
 */
#include <windows.h>
#include <stddef.h>

#include "emulator/layout.h"
#include "emulator/pe_layout.h"

#ifdef _WIN64
#define PE_MACHINE IMAGE_FILE_MACHINE_AMD64
#define PE_POINTER_RELOCATION IMAGE_REL_BASED_DIR64
#else
#define PE_MACHINE IMAGE_FILE_MACHINE_I386
#define PE_POINTER_RELOCATION IMAGE_REL_BASED_HIGHLOW
#endif

PE_LAYOUT(LAYOUT_CHECK_CONSTANT)
