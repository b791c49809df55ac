#include "message.h"

#include <cstring>

#include "os/os.h"

// Reads byte by byte so that nothing past the kept characters (and their
// line ending) is taken from the stream: a caller that shares the input
// finds the rest of an over-long line still there. The bytes come through
// the system layer, which turns a line typed at a Windows console into
// UTF-8.
int readmessage(FILE *in, char *msg) {
    int used = 0;
    int gotany = 0;
    memset(msg, 0, messagebuffersize);
    while (used < messagemaxchars) {
        int c = osgetbyte(in);
        if (c == EOF)
            break;
        gotany = 1;
        if (c == '\n')
            break;
        if (c == '\r') {
            // A carriage return belongs to the line ending only when the
            // newline follows it directly; a lone one is an ordinary byte.
            int next = osgetbyte(in);
            if (next == '\n')
                break;
            if (next != EOF)
                osungetbyte(next, in);
        }
        msg[used++] = (char)c;
    }
    if (used == messagemaxchars) {
        // A line of exactly the maximum length still has its newline taken.
        int next = osgetbyte(in);
        if (next != '\n' && next != EOF)
            osungetbyte(next, in);
    }
    if (!gotany)
        return -1;
    int n0 = (int)strlen(msg);
    memset(msg + n0, 0, messagebuffersize - n0);
    return n0;
}
