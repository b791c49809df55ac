// moltravytext: writes one typed line in the moltravy glyph script.
//
// Usage: run it in a folder that holds the 29 glyph files ("a.bmp" to
// "z.bmp", "_.bmp", "_period.bmp", "_question.bmp": 50 by 50 BMP or PNG
// images) and type a line, or pipe one in:
//
//   $ echo 'Hello, World!' | moltravytext
//
// It prompts, reads one line from standard input, brings it into the
// script's 29 symbols (a to z, space, "." and "?"), measures its sentences,
// prints a report of six lines, paints one glyph per character into a grey
// picture and stores it as "moltravytext.bmp" in the current folder. The last
// line printed is the channel count of the question-mark glyph's file.
//
// Exit status: 0 after a complete run, 1 after a fatal condition, which is
// always told in one line on standard output. An earlier "moltravytext.bmp"
// is replaced only by a complete new picture. Nothing goes to standard error;
// no arguments or settings are read. The same code runs on Linux, macOS, the
// BSDs and Windows: every call into the system goes through os/os.h.
#include <cstdio>
#include <cstdlib>

#include "message/message.h"
#include "os/os.h"
#include "glyphs/glyphs.h"
#include "render/placement.h"
#include "render/raster.h"

static const char *const picturename = "moltravytext.bmp";

int main(void) {
    // Read: the prompt and one line of input.
    osstartstreams();
    char *msg = (char *)malloc(messagebuffersize);
    printf("\n\n");
    if (msg == NULL) {
        printf("Message memory not allocated.\n");
        exit(1);
    }
    // The prompt has always shown the buffer's size, 2000, though a line
    // keeps at most messagemaxchars (1998) characters: users and scripts
    // know the prompt by it.
    printf("(%d character maximum)\nEnter message: ", messagebuffersize);
    fflush(stdout);
    int n0 = readmessage(stdin, msg);
    if (n0 < 0) {
        // Nothing typed at all: no picture, so an earlier one stays as it is.
        printf("No message entered.\n");
        exit(1);
    }

    // Prepare: the script's alphabet, then the sentence metrics.
    normalisemessage(msg, n0);
    int longest = 0;
    int sentences = 0;
    measuremessage(msg, n0, &longest, &sentences);
    int64_t width = rasterwidth(sentences);
    int64_t height = rasterheight(longest);

    // Report.
    printf("Message:             %s\n", msg);
    printf("Message Length:      %d\n", n0);
    printf("Longest Sentence:    %d\n", longest);
    printf("Number of Sentences: %d\n", sentences);
    printf("Image  width:        %d\nImage height:        %d\n", (int)width,
           (int)height);
    // Shown now, on a terminal or in a pipe, even if the long work that
    // follows is interrupted.
    fflush(stdout);

    // Raster: refused before any memory is spent when it could never be
    // stored.
    if (!rasterfits(width, height)) {
        printf("Picture too large to store: %lld by %lld pixels would make a "
               "%lld-byte BMP file, over the limit of %lld bytes.\n",
               (long long)width, (long long)height,
               (long long)bmpfilesize(width, height), (long long)bmpfilelimit);
        exit(1);
    }
    unsigned char *raster = createraster(width, height);
    if (raster == NULL) {
        printf("Raster memory not allocated: %lld by %lld pixels.\n",
               (long long)width, (long long)height);
        exit(1);
    }

    // Glyph pass: every glyph is loaded, in order, whether used or not.
    int channels = 0;
    for (int i = 0; i < glyphcount; i++) {
        unsigned char *glyph = NULL;
        int glyphwidth = 0;
        int glyphheight = 0;
        int loaded = loadglyph(glyphfilename(i), &glyph, &channels, &glyphwidth,
                               &glyphheight);
        if (loaded == glyphunreadable) {
            printf("currentletter = NULL\n\n");
            exit(1);
        }
        if (loaded == glyphwrongsize) {
            printf("Glyph file %s is %d by %d pixels; glyphs must be %d by "
                   "%d.\n",
                   glyphfilename(i), glyphwidth, glyphheight, glyphsize,
                   glyphsize);
            exit(1);
        }
        placeglyph(raster, width, height, msg, n0, glyph, glyphcharacter(i),
                   stdout);
        releaseglyph(glyph);
    }

    // Store.
    int replaced = 0;
    int err = storeraster(raster, width, height, picturename, &replaced);
    if (err != 0 && replaced) {
        // The picture is in place, but may not survive a power cut.
        printf("Picture stored but not synced to disk: %s: %s.\n", picturename,
               oserrortext(err));
        exit(1);
    }
    if (err != 0) {
        printf("Picture not stored: %s: %s.\n", picturename, oserrortext(err));
        exit(1);
    }

    free(msg);
    free(raster);
    // The closing line is the channel count of the glyph file loaded last,
    // which is the question mark's only because the glyph table ends with
    // it.
    printf("%d\n", channels);
    // A report that could not be written is a failed run.
    if (fflush(stdout) != 0 || ferror(stdout))
        return 1;
    return 0;
}
