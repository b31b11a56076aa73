// The rate that watch shows beside each count, kept apart from the readout
// so that it can be checked without a clock.
#pragma once

namespace Commands {

// Counts per second between two readings of one axis taken this many
// milliseconds apart. The counter is 24 bits wide and wraps, so the change
// is taken the shorter way round: a count going from 8388607 to -8388608
// moved by one, not by sixteen million. 0 when no time has passed.
inline long long countsPerSecond(int before, int after, long long milliseconds)
{
    const unsigned bits = (static_cast<unsigned>(after) - static_cast<unsigned>(before)) & 0xFFFFFFu;
    const long long change = bits >= 0x800000u ? static_cast<long long>(bits) - 0x1000000 : bits;
    return milliseconds > 0 ? change * 1000 / milliseconds : 0;
}

} // namespace Commands
