#include "wintext.h"

#include <cstring>
#include <cwchar>

// pututf8: the UTF-8 bytes of character c into out; returns how many.
static int pututf8(unsigned long c, unsigned char *out) {
    if (c < 0x80) {
        out[0] = (unsigned char)c;
        return 1;
    }
    int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    // The lead byte holds the count in its high bits, then the top bits.
    static const unsigned char lead[5] = {0, 0, 0xc0, 0xe0, 0xf0};
    for (int k = n - 1; k > 0; k--, c >>= 6)
        out[k] = (unsigned char)(0x80 | (c & 0x3f));
    out[0] = (unsigned char)(lead[n] | c);
    return n;
}

int consoleutf8(const wchar_t *units, int count, consolestate *state,
                unsigned char *out) {
    const unsigned long replacement = 0xfffd;
    int n = 0;
    for (int i = 0; i < count; i++) {
        unsigned long u = (unsigned long)units[i] & 0xffff;
        if (state->linestart && u == 0x1a)
            return -1;
        state->linestart = u == '\n';
        unsigned long high = (unsigned long)state->high & 0xffff;
        state->high = 0;
        if (high != 0 && u >= 0xdc00 && u <= 0xdfff) {
            n += pututf8(0x10000 + ((high - 0xd800) << 10) + (u - 0xdc00),
                         out + n);
            continue;
        }
        if (high != 0)
            n += pututf8(replacement, out + n);
        if (u >= 0xd800 && u <= 0xdbff) {
            // Its partner may come with the next read.
            state->high = (wchar_t)u;
            continue;
        }
        n += pututf8(u >= 0xdc00 && u <= 0xdfff ? replacement : u, out + n);
    }
    return n;
}

int longpath(const wchar_t *full, wchar_t *out, size_t size) {
    size_t length = wcslen(full);
    const wchar_t *prefix = L"";
    const wchar_t *rest = full;
    int device = length >= 4 && full[0] == L'\\' && full[1] == L'\\' &&
                 (full[2] == L'?' || full[2] == L'.') && full[3] == L'\\';
    if (length >= longpathfrom && !device) {
        if (full[0] == L'\\' && full[1] == L'\\') {
            prefix = L"\\\\?\\UNC\\";
            rest = full + 2;
        } else {
            prefix = L"\\\\?\\";
        }
    }
    size_t prefixlength = wcslen(prefix);
    size_t restlength = wcslen(rest);
    if (prefixlength + restlength + 1 > size)
        return -1;
    memcpy(out, prefix, prefixlength * sizeof(wchar_t));
    memcpy(out + prefixlength, rest, (restlength + 1) * sizeof(wchar_t));
    return 0;
}
