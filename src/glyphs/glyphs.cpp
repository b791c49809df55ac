#include "glyphs.h"

#include <cstdlib>
#include <cstring>

#include "bmpinfo.h"
#include "bmprewrite.h"
#include "os/os.h"
#include "pngrewrite.h"
#include "stbimage.h"

// The glyph table: each glyph's file and the message character it stands
// for, in loading order. glyphgen draws the default set from it too.
struct glyphentry {
    const char *file;
    char character;
};

static const glyphentry glyphtable[glyphcount] = {
    {"a.bmp", 'a'},        {"b.bmp", 'b'}, {"c.bmp", 'c'}, {"d.bmp", 'd'},
    {"e.bmp", 'e'},        {"f.bmp", 'f'}, {"g.bmp", 'g'}, {"h.bmp", 'h'},
    {"i.bmp", 'i'},        {"j.bmp", 'j'}, {"k.bmp", 'k'}, {"l.bmp", 'l'},
    {"m.bmp", 'm'},        {"n.bmp", 'n'}, {"o.bmp", 'o'}, {"p.bmp", 'p'},
    {"q.bmp", 'q'},        {"r.bmp", 'r'}, {"s.bmp", 's'}, {"t.bmp", 't'},
    {"u.bmp", 'u'},        {"v.bmp", 'v'}, {"w.bmp", 'w'}, {"x.bmp", 'x'},
    {"y.bmp", 'y'},        {"z.bmp", 'z'}, {"_.bmp", ' '}, {"_period.bmp", '.'},
    {"_question.bmp", '?'}};

const char *glyphfilename(int i) {
    return glyphtable[i].file;
}

char glyphcharacter(int i) {
    return glyphtable[i].character;
}

// The library reads past the end of a file as zeros, so a file cut off
// would load without complaint and print as a smudge. The rewrites refuse
// such files; the library still reads through these callbacks, which note
// any read the file cannot answer in full, so that a file the rewrites let
// through short is refused all the same.
struct glyphreader {
    const unsigned char *data;
    size_t size;
    size_t at;
    int pastend;
};

// The library refills a buffer of its own this many bytes at a time, and a
// refill near the end of a whole file comes back short; anything else it
// asks for, it needs in full.
static const int stbrefillsize = 128;

static int readglyphbytes(void *user, char *out, int size) {
    glyphreader *reader = (glyphreader *)user;
    size_t want = size > 0 ? (size_t)size : 0;
    size_t left = reader->size - reader->at;
    size_t n = want < left ? want : left;
    memcpy(out, reader->data + reader->at, n);
    reader->at += n;
    if (want > 0 && (n == 0 || (n < want && size != stbrefillsize)))
        reader->pastend = 1;
    return (int)n;
}

// A skip past the end only moves to the end: the read that follows notices.
static void skipglyphbytes(void *user, int n) {
    glyphreader *reader = (glyphreader *)user;
    size_t step = n > 0 ? (size_t)n : 0;
    size_t left = reader->size - reader->at;
    reader->at += step < left ? step : left;
}

static int glyphbytesend(void *user) {
    glyphreader *reader = (glyphreader *)user;
    return reader->at >= reader->size;
}

// No 50 by 50 glyph needs more: a 16-bit RGBA PNG stored without compression
// is about 20 KB, and this leaves room for metadata such as a colour profile.
// The limit also bounds the work a file can make: a PNG of empty chunks
// keeps the checks walking through them.
static const size_t glyphfilelimit = 256 << 10;

int loadglyph(const char *filename, unsigned char **glyph, int *channels,
              int *width, int *height) {
    *glyph = NULL;
    *width = 0;
    *height = 0;
    unsigned char *data = NULL;
    size_t size = 0;
    if (osreadfile(filename, glyphfilelimit, &data, &size) != 0)
        return glyphunreadable;
    // The size first, from the header alone, before anything is rewritten
    // or decoded: a picture of another size gets the same answer whatever
    // its compression.
    // The headers, read once: 1 a picture, 0 neither format, -1 refused.
    bmpinfo bmp;
    int64_t sidex = 0;
    int64_t sidey = 0;
    int kind = readbmpinfo(data, size, &bmp);
    int isbmp = kind != 0;
    if (isbmp) {
        sidex = bmp.width;
        sidey = bmp.rows;
    } else {
        kind = readpngheader(data, size, &sidex, &sidey);
    }
    if (kind == 1 && (sidex != glyphsize || sidey != glyphsize)) {
        free(data);
        *width = (int)sidex;
        *height = (int)sidey;
        return glyphwrongsize;
    }
    // Brought into the one layout the library reads exactly, or refused.
    int rewritten = kind != 1 ? -1
                    : isbmp   ? rewritebmp(&bmp, &data, &size)
                              : rewritepng(&data, &size);
    int result = glyphunreadable;
    if (rewritten == 0) {
        glyphreader reader = {data, size, 0, 0};
        stbi_io_callbacks io = {readglyphbytes, skipglyphbytes, glyphbytesend};
        int decodedx = 0;
        int decodedy = 0;
        unsigned char *pixels = stbi_load_from_callbacks(
            &io, &reader, &decodedx, &decodedy, channels, 1);
        // Refused when cut off, or not the size its header gave.
        if (pixels != NULL && !reader.pastend && decodedx == glyphsize &&
            decodedy == glyphsize) {
            *glyph = pixels;
            result = glyphloaded;
        } else {
            stbi_image_free(pixels);
        }
    }
    free(data);
    return result;
}

void releaseglyph(unsigned char *glyph) {
    stbi_image_free(glyph);
}
