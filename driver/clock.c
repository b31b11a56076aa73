/* The simulated board's clock; see ports.h. */
#include <ntddk.h>

#include "ports.h"

unsigned long long DriverClock(unsigned long long* ticksPerSecond)
{
    /* The performance counter rather than the interrupt time: some systems
     * that run kernel drivers count the latter in milliseconds. */
    LARGE_INTEGER frequency;
    const LARGE_INTEGER now = KeQueryPerformanceCounter(&frequency);
    *ticksPerSecond = (ULONGLONG)frequency.QuadPart;
    return (ULONGLONG)now.QuadPart;
}
