#include "raster.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stb_image_write.h>

int64_t rasterwidth(int sentences) {
    return (int64_t)columnpitch * sentences + 2 * margin -
           (columnpitch - cellsize);
}

int64_t rasterheight(int longest) {
    return (int64_t)cellsize * (longest + 1);
}

int64_t bmpfilesize(int64_t width, int64_t height) {
    return 54 + 3 * width * height;
}

int rasterfits(int64_t width, int64_t height) {
    // Divided rather than multiplied, so that no size can overflow.
    return width > 0 && height > 0 && width <= (bmpfilelimit - 54) / 3 / height;
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
    int fd;
    int errnum;
    size_t used;
    unsigned char buffer[1 << 16];
};

static void writeall(bmpwriter *out, const unsigned char *data, size_t size) {
    while (size > 0 && out->errnum == 0) {
        ssize_t n = write(out->fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            out->errnum = n < 0 ? errno : EIO;
            return;
        }
        data += n;
        size -= (size_t)n;
    }
}

static void flushwriter(bmpwriter *out) {
    writeall(out, out->buffer, out->used);
    out->used = 0;
}

static void bmpcallback(void *context, void *data, int size) {
    bmpwriter *out = (bmpwriter *)context;
    if (size <= 0 || out->errnum != 0)
        return;
    if (out->used + (size_t)size > sizeof out->buffer)
        flushwriter(out);
    if ((size_t)size >= sizeof out->buffer) {
        writeall(out, (const unsigned char *)data, (size_t)size);
        return;
    }
    memcpy(out->buffer + out->used, data, (size_t)size);
    out->used += (size_t)size;
}

int storeraster(const unsigned char *raster, int64_t width, int64_t height,
                const char *filename) {
    if (!rasterfits(width, height))
        return EFBIG;
    char tempname[4096];
    if (snprintf(tempname, sizeof tempname, "%s.XXXXXX", filename) >=
        (int)sizeof tempname)
        return ENAMETOOLONG;
    bmpwriter *out = (bmpwriter *)malloc(sizeof(bmpwriter));
    if (out == NULL)
        return ENOMEM;
    out->fd = mkstemp(tempname);
    if (out->fd < 0) {
        int errnum = errno;
        free(out);
        return errnum;
    }
    out->errnum = 0;
    out->used = 0;

    // mkstemp makes the file private; give it what a plain new file gets.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(out->fd, 0666 & ~mask) != 0)
        out->errnum = errno;

    if (out->errnum == 0 &&
        !stbi_write_bmp_to_func(bmpcallback, out, (int)width, (int)height, 1,
                                raster))
        out->errnum = EINVAL;
    if (out->errnum == 0)
        flushwriter(out);
    if (close(out->fd) != 0 && out->errnum == 0)
        out->errnum = errno;
    if (out->errnum == 0 && rename(tempname, filename) != 0)
        out->errnum = errno;
    int errnum = out->errnum;
    if (errnum != 0)
        unlink(tempname);
    free(out);
    return errnum;
}
