#include "raster.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "os/os.h"

// The image library's writer, compiled here for its BMP writer alone: its
// functions are static inline, so that the compiler drops the other
// formats' writers, which the program never calls.
#define STB_IMAGE_WRITE_STATIC
#define STBIWDEF static inline
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

int64_t rasterwidth(int sentences) {
    return (int64_t)columnpitch * sentences + 2 * margin -
           (columnpitch - cellsize);
}

int64_t rasterheight(int longest) {
    return (int64_t)cellsize * (longest + 1);
}

int64_t bmpfilesize(int64_t width, int64_t height) {
    return bmpheadersize + 3 * width * height;
}

int rasterfits(int64_t width, int64_t height) {
    // Divided rather than multiplied, so that no size can overflow.
    return width > 0 && height > 0 &&
           width <= (bmpfilelimit - bmpheadersize) / 3 / height;
}

unsigned char *createraster(int64_t width, int64_t height) {
    if (width <= 0 || height < ruleoffset ||
        (uint64_t)width > SIZE_MAX / (uint64_t)height)
        return NULL;
    size_t size = (size_t)width * (size_t)height;
    unsigned char *raster = (unsigned char *)malloc(size);
    if (raster == NULL)
        return NULL;
    memset(raster, 255, size);
    // The rule runs the full width, through the side margins too.
    memset(raster + (height - ruleoffset) * width, 0,
           (size_t)(rulethickness * width));
    return raster;
}

// The writer hands over a few dozen bytes at a time; they are gathered here
// so that the file sees large writes, and the first failure is kept, since
// the writer itself has no way to report one.
struct bmpwriter {
    int errnum;
    size_t used;
    unsigned char buffer[1 << 16];
};

static void flushwriter(bmpwriter *out) {
    if (out->errnum == 0)
        out->errnum = oswritereplace(out->buffer, out->used);
    out->used = 0;
}

static void bmpcallback(void *context, void *data, int size) {
    bmpwriter *out = (bmpwriter *)context;
    if (size <= 0 || out->errnum != 0)
        return;
    if (out->used + (size_t)size > sizeof out->buffer)
        flushwriter(out);
    if ((size_t)size >= sizeof out->buffer) {
        if (out->errnum == 0)
            out->errnum = oswritereplace(data, (size_t)size);
        return;
    }
    memcpy(out->buffer + out->used, data, (size_t)size);
    out->used += (size_t)size;
}

// writepicture: writes the whole BMP file to the replacement under way.
// Returns 0 or the errno value of the first write that failed.
static int writepicture(const unsigned char *raster, int64_t width,
                        int64_t height) {
    bmpwriter *out = (bmpwriter *)malloc(sizeof(bmpwriter));
    if (out == NULL)
        return ENOMEM;
    out->errnum = 0;
    out->used = 0;
    if (!stbi_write_bmp_to_func(bmpcallback, out, (int)width, (int)height, 1,
                                raster))
        out->errnum = EINVAL;
    flushwriter(out);
    int errnum = out->errnum;
    free(out);
    return errnum;
}

int storeraster(const unsigned char *raster, int64_t width, int64_t height,
                const char *filename, int *replaced) {
    *replaced = 0;
    if (!rasterfits(width, height))
        return EFBIG;
    int errnum = osbeginreplace(filename);
    if (errnum != 0)
        return errnum;
    errnum = writepicture(raster, width, height);
    return osfinishreplace(errnum, replaced);
}
