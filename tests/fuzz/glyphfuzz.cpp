// libFuzzer target: one glyph file of arbitrary bytes through the real glyph
// loader: the regular-file check, the size check from the header, the
// truncation check, the checks of our own and the decoding.
//
// Each input is loaded twice, over a stack filled first with zeros and then
// with 0xa5, and both loads must give the same result and the same glyph:
// a decoder that reads a local variable it never wrote shows as a
// difference. For every input the loader must return one of its three
// results, and:
// - loaded: a 50 by 50 grey glyph (every byte is read, so AddressSanitizer
//   sees a short one) and a channel count of 1 to 4;
// - refused: no glyph handed out.
// scripts/fuzz runs it with a time limit and a memory limit, so that a file
// that hangs the decoder or makes it allocate without bound is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "../fillstack.h"
#include "glyphs/glyphs.h"
#include "fuzzcheck.h"

// The loader reads a named file; each input is written to the same one, in
// a folder of its own that is removed when the fuzzer ends.
static char folder[] = "/tmp/glyphfuzz.XXXXXX";
static char path[sizeof folder + 6];

static void removeglyphfolder(void) {
    unlink(path);
    rmdir(folder);
}

static void makeglyphfolder(void) {
    check(mkdtemp(folder) != NULL, "no temporary folder");
    snprintf(path, sizeof path, "%s/a.bmp", folder);
    atexit(removeglyphfolder);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (path[0] == '\0')
        makeglyphfolder();
    FILE *file = fopen(path, "wb");
    check(file != NULL, "cannot write the glyph file");
    check(fwrite(data, 1, size, file) == size && fclose(file) == 0,
          "cannot write the glyph file");

    unsigned char *glyph = NULL;
    int channels = 0;
    int width = 0;
    int height = 0;
    fillstack(0x00);
    int result = loadglyph(path, &glyph, &channels, &width, &height);
    unsigned char *again = NULL;
    int againchannels = 0;
    fillstack(0xa5);
    check(loadglyph(path, &again, &againchannels, &width, &height) == result,
          "two loads gave different results");
    check(againchannels == channels, "two loads gave different channels");
    if (glyph != NULL && again != NULL)
        check(memcmp(glyph, again, glyphsize * glyphsize) == 0,
              "two loads gave different glyphs: stack memory in the glyph");
    releaseglyph(again);
    check(result == glyphloaded || result == glyphunreadable ||
              result == glyphwrongsize,
          "unknown result");
    if (result == glyphloaded) {
        check(glyph != NULL, "loaded without a glyph");
        check(channels >= 1 && channels <= 4, "channel count out of range");
        unsigned sum = 0;
        for (int i = 0; i < glyphsize * glyphsize; i++)
            sum += glyph[i];
        check(sum <= 255u * glyphsize * glyphsize, "impossible sum");
        releaseglyph(glyph);
    } else {
        check(glyph == NULL, "refused but a glyph handed out");
    }
    if (result == glyphwrongsize)
        check(width != glyphsize || height != glyphsize,
              "a 50 by 50 glyph called the wrong size");
    return 0;
}
