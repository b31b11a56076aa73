// Inside the simulated platform: bounded copies of caller text into its
// fixed-size records.
#pragma once

namespace SimText {

// Copies at most size-1 characters of from (null counts as empty) and ends
// the copy with a zero.
inline void copy(char* to, int size, const char* from)
{
    int i = 0;
    for (; from != nullptr && from[i] != '\0' && i < size - 1; ++i) {
        to[i] = from[i];
    }
    to[i] = '\0';
}

} // namespace SimText
