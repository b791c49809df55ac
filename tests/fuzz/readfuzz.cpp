// libFuzzer target: reading the message line from arbitrary bytes.
//
// The result must match a plain model of the rules: the line runs to the
// first newline; a carriage return directly before that newline belongs to
// the line ending; at most 1998 characters are kept; the message ends at the
// first NUL; every buffer byte behind it is NUL; and for a line that fits,
// exactly the line and its ending are taken from the stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "message/message.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *in = fmemopen((void *)data, size, "r");
    if (in == NULL)
        return 0;
    char *msg = (char *)malloc(messagebuffersize);
    int n0 = readmessage(in, msg);
    long taken = ftell(in);
    fclose(in);
    if (size == 0) {
        check(n0 == -1 && msg[0] == '\0', "empty input gave a message");
        free(msg);
        return 0;
    }

    // The model.
    const uint8_t *newline = (const uint8_t *)memchr(data, '\n', size);
    size_t line = newline ? (size_t)(newline - data) : size;
    size_t ending = newline ? 1 : 0;
    if (newline && line > 0 && data[line - 1] == '\r') {
        line--;
        ending++;
    }
    size_t kept = line < (size_t)messagemaxchars ? line : messagemaxchars;
    const uint8_t *nul = (const uint8_t *)memchr(data, '\0', kept);
    size_t length = nul ? (size_t)(nul - data) : kept;

    check(n0 == (int)length, "wrong message length");
    check(memcmp(msg, data, length) == 0, "wrong message bytes");
    for (int p = n0; p < messagebuffersize; p++)
        check(msg[p] == '\0', "a byte behind the message is not NUL");
    if (line < (size_t)messagemaxchars)
        check(taken == (long)(line + ending), "took too much or too little");
    else
        check(taken >= messagemaxchars && taken <= messagemaxchars + 2,
              "a long line was read past its kept part");
    free(msg);
    return 0;
}
