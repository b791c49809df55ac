#include "message.h"

void measuremessage(const char *msg, int n0, int *longest, int *sentences) {
    int run = 0;
    int l = 0;
    int s = 0;
    // Positions cleared by normalisation count like any other: they keep the
    // picture's cells in step with the typed length.
    for (int p = 0; p < n0; p++) {
        run++;
        if (run > l)
            l = run;
        if (isterminator(msg[p])) {
            run = 0;
            s++;
        }
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
    *longest = l;
    *sentences = s;
}
