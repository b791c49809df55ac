#include "message.h"

void measuremessage(const char *msg, int n0, int *longest, int *sentences) {
    int64_t l = 0;
    int64_t s = 0;
    int64_t k = 0;
    // The walk the placement stamps along: the tallest column, each cell
    // counted, sets the picture's height.
    for (int p = 0; p < n0; p++) {
        if (k + 1 > l)
            l = k + 1;
        nextcell(msg[p], &s, &k);
    }
    // A message that does not end with a terminator has one more, open,
    // sentence; trailing NULs are skipped to find its last real byte.
    for (int p = n0 - 1; p >= 0; p--) {
        if (msg[p] == '\0')
            continue;
        if (!isterminator(msg[p]))
            s++;
        break;
    }
    *longest = (int)l;
    *sentences = (int)s;
}
