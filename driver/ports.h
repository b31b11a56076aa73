/*
 * What the driver needs of the board behind its device, and what it offers
 * the board code in return. Two files implement the board side: ports_board.c
 * reaches the real board's I/O ports, ports_simulated.cpp the hardware model the
 * host simulator uses (model/hardware.h). The build picks one of them per variant.
 *
 * The driver calls these one at a time (it holds its lock around each) and
 * only with offsets below the registered port count.
 */
#ifndef ZQ4810_DRIVER_PORTS_H
#define ZQ4810_DRIVER_PORTS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The ports the board decodes, from its base address on. */
#define PORTS_BOARD_COUNT 16u

/* Which board this build drives, for the start-up message. */
extern const char PortsKind[];

/* Called once at driver start with the registered base address and port
 * count, and the open Parameters key for settings of the board's own. The
 * driver has checked that the block is at most the board's ports and lies in
 * the I/O space. Non-zero when the board can be used at that address. */
int PortsStart(void* parametersKey, unsigned int address, unsigned int count);

unsigned char PortsRead(unsigned int offset);
void PortsWrite(unsigned int offset, unsigned char value);

/* Offered by the driver: a REG_DWORD value of a key opened by the driver.
 * Non-zero when present with that type and size. */
int DriverQueryDword(void* key, const wchar_t* name, unsigned long* value);

/* Offered by the driver to the simulated board (clock.c): a clock that never
 * goes back, and how many of its ticks make a second. The board variant has
 * no use for it, so it does not import the clock. */
unsigned long long DriverClock(unsigned long long* ticksPerSecond);

#ifdef __cplusplus
}
#endif

#endif /* ZQ4810_DRIVER_PORTS_H */
