#include "glyphs.h"

#include <cstdlib>

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
    // The headers, read once: 1 a picture, 0 neither format, -1 refused.
    // The size first, from the header alone, before anything is rewritten
    // or decoded: a picture of another size gets the same answer whatever
    // its compression.
    bmpinfo bmp;
    pnginfo png;
    int64_t sidex = 0;
    int64_t sidey = 0;
    int kind = readbmpinfo(data, size, &bmp);
    int isbmp = kind != 0;
    if (isbmp) {
        sidex = bmp.width;
        sidey = bmp.rows;
    } else if ((kind = readpnginfo(data, size, &png)) == 1) {
        sidex = png.width;
        sidey = png.height;
    }
    if (kind == 1 && (sidex != glyphsize || sidey != glyphsize)) {
        free(data);
        *width = (int)sidex;
        *height = (int)sidey;
        return glyphwrongsize;
    }
    // Brought into the one layout the library reads exactly, whose header
    // holds the size just checked, or refused.
    int rewritten = kind != 1 ? -1
                    : isbmp   ? rewritebmp(&bmp, &data, &size)
                              : rewritepng(&png, &data, &size);
    unsigned char *pixels = NULL;
    if (rewritten == 0) {
        int decodedx = 0;
        int decodedy = 0;
        pixels = stbi_load_from_memory(data, (int)size, &decodedx, &decodedy,
                                       channels, 1);
    }
    free(data);
    *glyph = pixels;
    return pixels != NULL ? glyphloaded : glyphunreadable;
}

void releaseglyph(unsigned char *glyph) {
    stbi_image_free(glyph);
}
