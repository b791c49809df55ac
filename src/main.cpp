// moltravytext: writes one typed line in the moltravy glyph script.
//
// Usage: run it in a folder that holds the 29 glyph files and type a line
// (or pipe one in):
//
//   $ echo 'Hello, World!' | moltravytext
//
// It prompts, reads one line from standard input, brings it into the
// script's 29 symbols (a to z, space, "." and "?"), measures its sentences
// and prints a report of five lines. Exit status: 0 after a complete run,
// 1 after a fatal condition, which is always told in one line on standard
// output. Nothing goes to standard error; no arguments or settings are read.
#include <cstdio>
#include <cstdlib>

#include "message/message.h"
#include "render/raster.h"

int main(void) {
    // Read: the prompt and one line of input.
    char *msg = (char *)malloc(messagebuffersize);
    printf("\n\n");
    if (msg == NULL) {
        printf("Message memory not allocated.\n");
        exit(1);
    }
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

    free(msg);
    // A report that could not be written is a failed run.
    if (fflush(stdout) != 0 || ferror(stdout))
        return 1;
    return 0;
}
