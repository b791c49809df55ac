// Reading a glyph file whole, the same on every system, above the four
// calls each system's file gives for it (os.h).
#include "os.h"

#include <cstdlib>

int osreadfile(const char *filename, size_t limit, unsigned char **data,
               size_t *size) {
    *data = NULL;
    *size = 0;
    osfile file;
    if (osopenfile(filename, &file) != 0)
        return -1;
    int64_t length = osfilesize(file);
    unsigned char *buffer = NULL;
    size_t want = 0;
    size_t used = 0;
    if (length >= 0 && (uint64_t)length <= limit) {
        want = (size_t)length;
        // One byte more, to see a file that grew since its size was read.
        buffer = (unsigned char *)malloc(want + 1);
    }
    while (buffer != NULL && used <= want) {
        int64_t n = osreadsome(file, buffer + used, want + 1 - used);
        if (n <= 0) {
            if (n < 0)
                used = want + 1;
            break;
        }
        used += (size_t)n;
    }
    osclosefile(file);
    if (buffer == NULL || used != want) {
        free(buffer);
        return -1;
    }
    *data = buffer;
    *size = used;
    return 0;
}
