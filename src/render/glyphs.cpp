#include "glyphs.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The image library reads past the end of a cut-off file as zeros, so a
// truncated glyph would load without complaint and print as a smudge. Reading
// through these callbacks notes any read the file cannot answer in full, and
// such a glyph is refused.
struct glyphreader {
    FILE *file;
    int pastend;
};

// The library refills a buffer of its own this many bytes at a time, and a
// refill near the end of a whole file comes back short; anything else it
// asks for, it needs in full.
static const int stbrefillsize = 128;

static int readglyphbytes(void *user, char *data, int size) {
    glyphreader *reader = (glyphreader *)user;
    size_t n = fread(data, 1, (size_t)size, reader->file);
    if (size > 0 && (n == 0 || (n < (size_t)size && size != stbrefillsize)))
        reader->pastend = 1;
    return (int)n;
}

static void skipglyphbytes(void *user, int n) {
    glyphreader *reader = (glyphreader *)user;
    fseek(reader->file, n, SEEK_CUR);
    // fseek clears the end-of-file flag, and the library asks for it to know
    // when to stop scanning: reading a byte sets it again when the skip went
    // past the end, as the library's own stdio reader does.
    int c = fgetc(reader->file);
    if (c != EOF)
        ungetc(c, reader->file);
}

static int glyphbytesend(void *user) {
    glyphreader *reader = (glyphreader *)user;
    return feof(reader->file) || ferror(reader->file);
}

// No 50 by 50 glyph file comes near this size; a larger one could keep the
// decoder walking through millions of empty chunks.
static const off_t glyphfilelimit = 16 << 20;

// openglyph: the glyph file for reading, or NULL when it cannot be opened,
// is not a plain file or is too large. A FIFO or device under a glyph's name
// would otherwise block the run or feed it without end; opening without
// blocking lets a FIFO be looked at and refused.
static FILE *openglyph(const char *filename) {
    int fd = open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return NULL;
    struct stat st;
    FILE *file = NULL;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size <= glyphfilelimit)
        file = fdopen(fd, "rb");
    if (file == NULL)
        close(fd);
    return file;
}

// refusedpng: whether file is a PNG whose first image data chunk is empty.
// The library then copies zero bytes to a null pointer, which is undefined
// behaviour (and lets the compiler drop its later check for missing image
// data); no encoder writes such a file, so it is refused before decoding.
// The chunks are walked as the library walks them: every chunk it accepts
// takes its length and four bytes of checksum. A length of 2^31 or more,
// which no valid PNG has, the library takes as negative and walks
// differently, so such a file is refused too.
static int refusedpng(FILE *file) {
    unsigned char head[8];
    if (fread(head, 1, 8, file) != 8 ||
        memcmp(head, "\x89PNG\r\n\x1a\n", 8) != 0)
        return 0;
    while (fread(head, 1, 8, file) == 8) {
        uint32_t length = (uint32_t)head[0] << 24 | (uint32_t)head[1] << 16 |
                          (uint32_t)head[2] << 8 | head[3];
        if (length >= 0x80000000u)
            return 1;
        if (memcmp(head + 4, "IDAT", 4) == 0)
            return length == 0;
        if (fseek(file, (long)length + 4, SEEK_CUR) != 0)
            return 0;
    }
    return 0;
}

int loadglyph(const char *filename, unsigned char **glyph, int *channels,
              int *width, int *height) {
    *glyph = NULL;
    *width = 0;
    *height = 0;
    // One open for both the size check and the decoding, so that both see
    // the same file.
    glyphreader reader = {openglyph(filename), 0};
    if (reader.file == NULL)
        return glyphunreadable;
    stbi_io_callbacks io = {readglyphbytes, skipglyphbytes, glyphbytesend};
    int result = glyphunreadable;
    if (stbi_info_from_callbacks(&io, &reader, width, height, channels)) {
        // A BMP whose rows are stored top first gives a negative height.
        if (*height < 0 && *height != INT_MIN)
            *height = -*height;
        if (*width != glyphsize || *height != glyphsize) {
            result = glyphwrongsize;
        } else if (fseek(reader.file, 0, SEEK_SET) == 0 &&
                   !refusedpng(reader.file) &&
                   fseek(reader.file, 0, SEEK_SET) == 0) {
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
