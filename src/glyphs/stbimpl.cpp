// Compiles the image library's decoder, stb_image.h, limited by
// stbimage.h to its BMP and PNG readers: the glyph loader's only decoder.
// It is built into the program with the project's own optimisation, since
// Debian ships stb as headers and its prebuilt shared library spends far
// more instructions. The build compiles this file, and only this one, with
// every local variable starting as zeros: the decoder keeps palettes in
// local arrays that a crafted file can make it read before writing.
//
// The decoder allocates through glyphalloc and glyphrealloc:
// - zero-filled, so that a decoder that reads memory it never wrote can only
//   ever put zeros, never stale heap bytes, into a glyph;
// - capped at a size no 50 by 50 glyph comes near (a 16-bit RGBA PNG needs
//   about 20 KiB a block), so that a declared chunk length of a gigabyte or a
//   compression bomb fails at once instead of mapping or inflating hundreds
//   of MiB.
#include <cstdlib>
#include <cstring>

// The declarations, limited to BMP and PNG, and the limits below.
#include "stbimage.h"

static void *glyphalloc(size_t size) {
    if (size > decoderblocklimit)
        return NULL;
    return calloc(1, size > 0 ? size : 1);
}

static void *glyphrealloc(void *block, size_t oldsize, size_t newsize) {
    if (newsize > decoderblocklimit)
        return NULL;
    unsigned char *grown = (unsigned char *)realloc(block, newsize);
    if (grown != NULL && newsize > oldsize)
        memset(grown + oldsize, 0, newsize - oldsize);
    return grown;
}

#define STBI_MALLOC(size) glyphalloc(size)
#define STBI_REALLOC_SIZED(block, oldsize, newsize)                            \
    glyphrealloc(block, oldsize, newsize)
#define STBI_FREE(block) free(block)
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
