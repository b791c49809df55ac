#include "glyphs.h"

#include <cstdio>

#include <stb_image.h>

static const char *const glyphfiles[glyphcount] = {
    "a.bmp", "b.bmp", "c.bmp", "d.bmp",       "e.bmp",        "f.bmp",
    "g.bmp", "h.bmp", "i.bmp", "j.bmp",       "k.bmp",        "l.bmp",
    "m.bmp", "n.bmp", "o.bmp", "p.bmp",       "q.bmp",        "r.bmp",
    "s.bmp", "t.bmp", "u.bmp", "v.bmp",       "w.bmp",        "x.bmp",
    "y.bmp", "z.bmp", "_.bmp", "_period.bmp", "_question.bmp"};

const char *glyphfilename(int i) {
    return glyphfiles[i];
}

char glyphcharacter(int i) {
    if (i < 26)
        return (char)('a' + i);
    if (i == 26)
        return ' ';
    return i == 27 ? '.' : '?';
}

// The image library reads past the end of a cut-off file as zeros, so a
// truncated glyph would load without complaint and print as a smudge. Reading
// through these callbacks notes any read asked for after the end, and such a
// glyph is refused.
struct glyphreader {
    FILE *file;
    int pastend;
};

static int readglyphbytes(void *user, char *data, int size) {
    glyphreader *reader = (glyphreader *)user;
    size_t n = fread(data, 1, (size_t)size, reader->file);
    if (n == 0 && size > 0)
        reader->pastend = 1;
    return (int)n;
}

static void skipglyphbytes(void *user, int n) {
    glyphreader *reader = (glyphreader *)user;
    fseek(reader->file, n, SEEK_CUR);
}

static int glyphbytesend(void *user) {
    glyphreader *reader = (glyphreader *)user;
    return feof(reader->file) || ferror(reader->file);
}

int loadglyph(const char *filename, unsigned char **glyph, int *channels,
              int *width, int *height) {
    *glyph = NULL;
    *width = 0;
    *height = 0;
    // One open for both the size check and the decoding, so that both see
    // the same file.
    glyphreader reader = {fopen(filename, "rb"), 0};
    if (reader.file == NULL)
        return glyphunreadable;
    stbi_io_callbacks io = {readglyphbytes, skipglyphbytes, glyphbytesend};
    int result = glyphunreadable;
    if (stbi_info_from_callbacks(&io, &reader, width, height, channels)) {
        if (*width != glyphsize || *height != glyphsize) {
            result = glyphwrongsize;
        } else if (fseek(reader.file, 0, SEEK_SET) == 0) {
            int w = 0;
            int h = 0;
            reader.pastend = 0;
            unsigned char *pixels =
                stbi_load_from_callbacks(&io, &reader, &w, &h, channels, 1);
            if (pixels != NULL && (reader.pastend || ferror(reader.file) ||
                                   w != glyphsize || h != glyphsize)) {
                // Cut off, unreadable part-way, or not the size its header
                // gave.
                stbi_image_free(pixels);
            } else if (pixels != NULL) {
                *glyph = pixels;
                result = glyphloaded;
            }
        }
    }
    fclose(reader.file);
    return result;
}

void releaseglyph(unsigned char *glyph) {
    stbi_image_free(glyph);
}
