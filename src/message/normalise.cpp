#include "message.h"

#include <cstring>

int indmax(int a, int b) {
    return a > b ? a : b;
}

// mapbyte: the script's stand-in for one typed byte, or the byte itself.
static signed char mapbyte(signed char c) {
    if (c >= 'A' && c <= 'Z')
        return (signed char)(c + 32);
    switch (c) {
    case '0':
        return 'z';
    case '1':
        return 'm';
    case '2':
        return 'w';
    case '3':
        return 't';
    case '4':
        return 'f';
    case '5':
        return 'v';
    case '6':
        return 'x';
    case '7':
        return 's';
    case '8':
        return 'g';
    case '9':
        return 'n';
    case '!':
        return '.';
    }
    return c;
}

static int isscriptsymbol(signed char c) {
    return (c >= 'a' && c <= 'z') || c == ' ' || isterminator((char)c);
}

// removeat: deletes the byte at k of a string of length len, shifting the
// rest (its NUL included) one place left. The byte that held the old NUL
// keeps it, so the positions behind the shorter string stay NUL.
static void removeat(char *msg, int k, int len) {
    memmove(msg + k, msg + k + 1, (size_t)(len - k));
}

// The removal walks from the end towards the start, so the byte in front of
// the one being tested is still as the mapping left it: only the space
// directly after a typed terminator goes, never one behind a removed byte.
void normalisemessage(char *msg, int n0) {
    for (int p = 0; p < n0; p++)
        msg[p] = (char)mapbyte((signed char)msg[p]);

    int len = (int)strlen(msg);
    for (int k = len - 1; k >= 0; k--) {
        signed char c = (signed char)msg[k];
        // At position 0 the byte is its own predecessor: a leading space
        // stays.
        signed char before = (signed char)msg[indmax(k - 1, 0)];
        if ((c == ' ' && isterminator((char)before)) || !isscriptsymbol(c)) {
            removeat(msg, k, len);
            len--;
        }
    }
}
