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

inline char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline int length(const char* text)
{
    int n = 0;
    while (text[n] != '\0') {
        ++n;
    }
    return n;
}

// Whether the first count characters of a equal the whole of b, without
// regard to case: how Windows compares device, key and value names.
inline bool sameNoCase(const char* a, int count, const char* b)
{
    int i = 0;
    for (; i < count && b[i] != '\0'; ++i) {
        if (upper(a[i]) != upper(b[i])) {
            return false;
        }
    }
    return i == count && b[i] == '\0';
}

inline bool sameNoCase(const char* a, const char* b)
{
    return sameNoCase(a, length(a), b);
}

} // namespace SimText
