#pragma once
// Hexadecimal digits as Intel HEX images write them: both the writer reading an image
// and the simulated unit reading the records it is sent need the same rule.

// The value of one hex digit (either case), or -1 when c is not one.
inline int valor_hex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
