// The portable work of the Windows layer, kept apart from its system calls
// so that every system builds and tests it: a line typed at a console,
// which Windows hands over in UTF-16, turned into the UTF-8 bytes a
// terminal elsewhere gives; a path in the form Windows takes past MAX_PATH;
// and the errno value, so the words, a Windows error code stands for.
//
// Units are UTF-16 code units, one to a wchar_t (16 bits on Windows; a
// wider wchar_t elsewhere holds the same values).
//
//   consolestate state = {0, 1};
//   int n = consoleutf8(units, count, &state, bytes);   // -1: input ended
//
//   longpath(L"C:\\a\\...300 characters", path, size);  // "\\?\C:\a\..."
//   int err = errnofromwin(GetLastError());
#ifndef MOLTRAVYTEXT_WINTEXT_H
#define MOLTRAVYTEXT_WINTEXT_H

#include <cstddef>

// What one piece of a console line leaves for the next: a high surrogate
// that ended it, whether the next unit starts a line, and whether a line
// started with Ctrl-Z, which ends the input.
struct consolestate {
    wchar_t high;  // the waiting high surrogate, or 0
    int linestart; // 1 at the start, and after each "\n"
    int ended;     // 1 once a line has started with Ctrl-Z
};

// consoleutf8: the UTF-8 bytes of count units read from a console (a piece
// of a line, as ReadConsoleW returns it), into out, which has room for 3
// bytes a unit and 3 more. A surrogate pair becomes one 4-byte character,
// even when the read splits it; a surrogate without its partner becomes
// U+FFFD; "\r\n" stays as it is, for the line reading to take. A line that
// starts with Ctrl-Z (0x1a) ends the input, as Windows' own console
// programs take it: the bytes before it in the same read are returned, and
// state->ended is set. Returns the number of bytes, or -1 once the input has
// ended before these units.
int consoleutf8(const wchar_t *units, int count, consolestate *state,
                unsigned char *out);

// Paths from this many units on are given in their long form: MAX_PATH
// (260) less the NUL and the room a temporary name's ".XXXXXX" takes, as
// CreateDirectoryW's limit (MAX_PATH - 12) leaves it.
const size_t longpathfrom = 248;

// longpath: full, a full path as GetFullPathNameW gives it, as the wide-
// character calls take it: unchanged when shorter than longpathfrom units
// or already a device path ("\\?\", "\\.\"); else "\\?\" before a drive
// path and "\\?\UNC\" in place of a share's "\\". Writes at most size units,
// the NUL included. Returns 0, or -1 when that does not fit.
int longpath(const wchar_t *full, wchar_t *out, size_t size);

// errnofromwin: the errno value for a Windows error code (GetLastError's):
// the one the same fault gives on Linux, so that oserrortext prints the
// words a Linux user reads for it; EIO for a code of no fault a file store
// meets.
int errnofromwin(unsigned long code);

#endif
