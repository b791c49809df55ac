// check: what every fuzz target asserts with: a broken invariant is told on
// standard error and aborts, which libFuzzer reports as a finding and keeps
// the input of.
#ifndef MOLTRAVYTEXT_FUZZCHECK_H
#define MOLTRAVYTEXT_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

#endif
