// The message stages: reading the typed line, bringing it into the
// script's 29 symbols, and measuring its sentences.
//
// The message lives in one heap buffer of messagebuffersize bytes owned by
// the driver. Every stage edits or reads it in place and returns its result;
// none of them prints or ends the process.
//
//   char *msg = (char *)malloc(messagebuffersize);
//   int n0 = readmessage(stdin, msg);      // -1: nothing was typed
//   normalisemessage(msg, n0);             // 'Hello, World!' -> 'hello world.'
//   int longest, sentences;
//   measuremessage(msg, n0, &longest, &sentences);   // 12 and 1
#ifndef MOLTRAVYTEXT_MESSAGE_H
#define MOLTRAVYTEXT_MESSAGE_H

#include <cstdint>
#include <cstdio>

// Size of the message buffer, and the most characters of a line it keeps:
// a line of 1998 characters fits the buffer with its newline and the
// terminating NUL, so that it is read whole, its newline taken with it,
// and a longer line is cut at the same place on every system.
const int messagebuffersize = 2000;
const int messagemaxchars = messagebuffersize - 2;

// isterminator: whether c ends a sentence: "." or "?" ("!" has become "."
// by the time anything asks).
inline int isterminator(char c) {
    return c == '.' || c == '?';
}

// readmessage: reads one line from in into msg (messagebuffersize bytes).
// The line ending ("\n" or "\r\n") is dropped; a line without one keeps every
// character. At most messagemaxchars characters are kept; the rest of a
// longer line stays unread. The message ends at its first NUL byte, and
// every buffer byte after the message is set to NUL.
// Returns the message length (N0), or -1 when the input ended or failed
// before a single byte could be read; msg then holds the empty string.
int readmessage(FILE *in, char *msg);

// nextcell: the cell after the one of a position holding c: the next one
// up the column (*cell), or, after a terminator, the first of the next
// column (*column). Positions cleared by normalisation take their cell like
// any other: the metrics size the picture by this walk, and the placement
// stamps glyphs along it.
inline void nextcell(char c, int64_t *column, int64_t *cell) {
    (*cell)++;
    if (isterminator(c)) {
        (*column)++;
        *cell = 0;
    }
}

// indmax: the larger of a and b.
int indmax(int a, int b);

// normalisemessage: maps and filters the first n0 bytes of msg in place so
// that only "a" to "z", space, "." and "?" remain. Upper case becomes lower
// case, digits become letters, "!" becomes ".", the one space directly after
// a "." or "?" goes, and every other byte is removed. Bytes are compared as
// signed, so 0x80 to 0xFF are removed too. The string gets shorter; every
// position from its new end up to n0 holds NUL afterwards.
// Example: 'Hi.  Bye?' -> 'hi. bye?'.
void normalisemessage(char *msg, int n0);

// measuremessage: measures the first n0 positions of the normalised msg,
// NUL positions included. *longest is the longest run of positions ending at
// a terminator (or at n0), which sets the picture's height; *sentences is
// the number of sentences, the open one after the last terminator included,
// which sets its width. Example: 'one.two three.four' with n0 20 -> 10, 3.
void measuremessage(const char *msg, int n0, int *longest, int *sentences);

#endif
