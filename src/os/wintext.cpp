#include "wintext.h"

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "os.h"

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
    if (state->ended)
        return -1;
    int n = 0;
    for (int i = 0; i < count; i++) {
        unsigned long u = (unsigned long)units[i] & 0xffff;
        if (state->linestart && u == 0x1a) {
            state->ended = 1;
            break;
        }
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

// The Windows error codes (winerror.h) the store and the file reading meet,
// by number, so that every system compiles the table; oswinstore.cpp checks
// each number against Windows' own header.
int errnofromwin(unsigned long code) {
    switch (code) {
    case 2:   // ERROR_FILE_NOT_FOUND
    case 3:   // ERROR_PATH_NOT_FOUND
    case 15:  // ERROR_INVALID_DRIVE
    case 53:  // ERROR_BAD_NETPATH
    case 67:  // ERROR_BAD_NET_NAME
    case 161: // ERROR_BAD_PATHNAME
        return ENOENT;
    case 5:  // ERROR_ACCESS_DENIED
    case 65: // ERROR_NETWORK_ACCESS_DENIED
    // Held by another program: Linux has no such fault, and Windows itself
    // often reports it as access denied.
    case 32: // ERROR_SHARING_VIOLATION
    case 33: // ERROR_LOCK_VIOLATION
        return EACCES;
    case 1314: // ERROR_PRIVILEGE_NOT_HELD
        return EPERM;
    case 4: // ERROR_TOO_MANY_OPEN_FILES
        return EMFILE;
    case 19: // ERROR_WRITE_PROTECT
        return EROFS;
    case 21: // ERROR_NOT_READY: no disc in the drive, a card reader empty
        return osnomedium;
    case 55: // ERROR_DEV_NOT_EXIST: a drive or share that went away
        return ENODEV;
    case 39:  // ERROR_HANDLE_DISK_FULL
    case 112: // ERROR_DISK_FULL
        return ENOSPC;
    case 1295: // ERROR_DISK_QUOTA_EXCEEDED
        return osdiskquota;
    case 80:  // ERROR_FILE_EXISTS
    case 183: // ERROR_ALREADY_EXISTS
        return EEXIST;
    case 111: // ERROR_BUFFER_OVERFLOW
    case 206: // ERROR_FILENAME_EXCED_RANGE
        return ENAMETOOLONG;
    case 8:  // ERROR_NOT_ENOUGH_MEMORY
    case 14: // ERROR_OUTOFMEMORY
        return ENOMEM;
    case 87:  // ERROR_INVALID_PARAMETER
    case 123: // ERROR_INVALID_NAME
        return EINVAL;
    case 267: // ERROR_DIRECTORY: a name that should be a folder is not
        return ENOTDIR;
    case 223: // ERROR_FILE_TOO_LARGE
        return EFBIG;
    case 17: // ERROR_NOT_SAME_DEVICE
        return EXDEV;
    case 1921: // ERROR_CANT_RESOLVE_FILENAME: a loop of links
        return ELOOP;
    default:
        return EIO;
    }
}
