#include "raster.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <ctime>
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

// writepicture: writes the whole BMP file to fd. Returns 0 or the errno
// value of the first write that failed.
static int writepicture(int fd, const unsigned char *raster, int64_t width,
                        int64_t height) {
    bmpwriter *out = (bmpwriter *)malloc(sizeof(bmpwriter));
    if (out == NULL)
        return ENOMEM;
    out->fd = fd;
    out->errnum = 0;
    out->used = 0;
    if (!stbi_write_bmp_to_func(bmpcallback, out, (int)width, (int)height, 1,
                                raster))
        out->errnum = EINVAL;
    if (out->errnum == 0)
        flushwriter(out);
    int errnum = out->errnum;
    free(out);
    return errnum;
}

// While a temporary file has a name, an interrupted run must not leave it
// behind: SIGINT, SIGTERM and SIGHUP remove it, then end the process by the
// same signal, so that the shell still sees 130, 143 or 129. The handler
// uses only unlink, signal and raise, which are safe in a signal handler;
// the name is written here before the file gets it. Naming, renaming and
// removing run with these signals blocked, so that the handler always knows
// whether the name exists.
static char temppath[4096];
static volatile sig_atomic_t temppathexists;
static const int cleanupsignals[3] = {SIGINT, SIGTERM, SIGHUP};

static void removetempandreraise(int sig) {
    if (temppathexists)
        unlink(temppath);
    signal(sig, SIG_DFL);
    // Blocked while the handler runs; delivered, with its default action,
    // as soon as it returns.
    raise(sig);
}

// catchsignals: installs the handler for the three signals, except where
// the signal is ignored (a run started in the background keeps ignoring
// SIGINT). The earlier actions go to old, for releasesignals.
static void catchsignals(struct sigaction old[3]) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = removetempandreraise;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; i++)
        sigaddset(&action.sa_mask, cleanupsignals[i]);
    for (int i = 0; i < 3; i++) {
        sigaction(cleanupsignals[i], NULL, &old[i]);
        if (old[i].sa_handler != SIG_IGN)
            sigaction(cleanupsignals[i], &action, NULL);
    }
}

static void releasesignals(const struct sigaction old[3]) {
    for (int i = 0; i < 3; i++)
        sigaction(cleanupsignals[i], &old[i], NULL);
}

// blocksignals and unblocksignals bracket every change to whether the
// temporary name exists; a signal that arrives meanwhile waits, then finds
// temppathexists telling the truth.
static void blocksignals(sigset_t *previous) {
    sigset_t set;
    sigemptyset(&set);
    for (int i = 0; i < 3; i++)
        sigaddset(&set, cleanupsignals[i]);
    sigprocmask(SIG_BLOCK, &set, previous);
}

static void unblocksignals(const sigset_t *previous) {
    sigprocmask(SIG_SETMASK, previous, NULL);
}

// resolvepicture: the path the picture is really stored at: filename, or,
// when it is a symbolic link, what the link points to, followed link by link
// as the kernel would (a relative link is read from the link's own folder)
// and kept even when it points at nothing yet. Writing to the name has
// always written through a link; replacing the file must keep doing so, and
// keep the link. Returns 0 or an errno value.
static int resolvepicture(const char *filename, char *path, size_t size) {
    if (strlen(filename) >= size)
        return ENAMETOOLONG;
    strcpy(path, filename);
    for (int depth = 0;; depth++) {
        struct stat st;
        if (lstat(path, &st) != 0 || !S_ISLNK(st.st_mode))
            return 0; // a missing file or any other error shows later
        if (depth == 40)
            return ELOOP;
        char link[4096];
        ssize_t n = readlink(path, link, sizeof link - 1);
        if (n < 0)
            return errno;
        link[n] = '\0';
        char *slash = strrchr(path, '/');
        size_t keep =
            (link[0] != '/' && slash != NULL) ? (size_t)(slash - path + 1) : 0;
        if (keep + (size_t)n >= size)
            return ENAMETOOLONG;
        memcpy(path + keep, link, (size_t)n + 1);
    }
}

// tempname: the attempt'th candidate for the temporary name beside path,
// "path.XXXXXX" with six letters or digits, into temppath.
static void tempname(const char *path, unsigned attempt) {
    static const char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t v = (uint64_t)now.tv_nsec * 2654435761u ^
                 (uint64_t)getpid() << 20 ^ (uint64_t)attempt * 40503u;
    size_t len = strlen(path);
    memcpy(temppath, path, len);
    temppath[len] = '.';
    for (int i = 1; i <= 6; i++) {
        temppath[len + i] = letters[v % 62];
        v /= 62;
    }
    temppath[len + 7] = '\0';
}

// nameunnamed: gives the unnamed file fd a temporary name beside path, through
// /proc/self/fd or, where /proc is missing, AT_EMPTY_PATH. Returns 0 or an
// errno value.
static int nameunnamed(int fd, const char *path) {
    char procpath[64];
    snprintf(procpath, sizeof procpath, "/proc/self/fd/%d", fd);
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        sigset_t previous;
        blocksignals(&previous);
        tempname(path, attempt);
        int failed = linkat(AT_FDCWD, procpath, AT_FDCWD, temppath,
                            AT_SYMLINK_FOLLOW) != 0;
        int errnum = errno;
        if (failed && errnum != EEXIST) {
            failed = linkat(fd, "", AT_FDCWD, temppath, AT_EMPTY_PATH) != 0;
            if (failed && errno == EEXIST)
                errnum = EEXIST;
        }
        temppathexists = !failed;
        unblocksignals(&previous);
        if (!failed)
            return 0;
        if (errnum != EEXIST)
            return errnum;
    }
    return EEXIST;
}

// renametemp: moves the named temporary file over path, or removes it when
// errnum, an earlier failure, is not 0. Returns errnum, or the errno value of
// a failed rename.
static int renametemp(const char *path, int errnum) {
    sigset_t previous;
    blocksignals(&previous);
    if (errnum == 0 && rename(temppath, path) != 0)
        errnum = errno;
    if (errnum != 0)
        unlink(temppath);
    temppathexists = 0;
    unblocksignals(&previous);
    return errnum;
}

// opennamed: the fallback where the filesystem has no unnamed files: a new
// file "path.XXXXXX", made private by mkstemp, then given what a plain new
// file gets. Returns the descriptor, or -1 with *errnum set.
static int opennamed(const char *path, int *errnum) {
    sigset_t previous;
    blocksignals(&previous);
    snprintf(temppath, sizeof temppath, "%s.XXXXXX", path);
    int fd = mkstemp(temppath);
    *errnum = errno;
    temppathexists = fd >= 0;
    unblocksignals(&previous);
    if (fd < 0)
        return -1;
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
        *errnum = errno;
        close(fd);
        renametemp(path, *errnum);
        return -1;
    }
    return fd;
}

int storeraster(const unsigned char *raster, int64_t width, int64_t height,
                const char *filename, int *replaced) {
    *replaced = 0;
    if (!rasterfits(width, height))
        return EFBIG;
    char path[4096];
    int errnum = resolvepicture(filename, path, sizeof path);
    if (errnum != 0)
        return errnum;
    // Room for the temporary name's ".XXXXXX".
    if (strlen(path) + 8 > sizeof temppath)
        return ENAMETOOLONG;
    char folder[4096];
    const char *slash = strrchr(path, '/');
    if (slash == NULL) {
        strcpy(folder, ".");
    } else {
        size_t len = slash == path ? 1 : (size_t)(slash - path);
        memcpy(folder, path, len);
        folder[len] = '\0';
    }
    int folderfd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderfd < 0)
        return errno;

    struct sigaction old[3];
    catchsignals(old);
    // The file has no name while it is written, so a run that ends at any
    // moment, even by SIGKILL, leaves nothing behind. open applies the umask.
    int fd = openat(folderfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    int unnamed = fd >= 0;
    if (fd < 0) {
        errnum = errno;
        // EISDIR from a kernel without O_TMPFILE, EOPNOTSUPP from a
        // filesystem without it.
        if (errnum == EOPNOTSUPP || errnum == EISDIR || errnum == EINVAL)
            fd = opennamed(path, &errnum);
    }
    if (fd >= 0) {
        errnum = writepicture(fd, raster, width, height);
        // The data reaches the disk before the name does, so that a power
        // cut can never leave the name on a file without its data.
        if (errnum == 0 && fdatasync(fd) != 0)
            errnum = errno;
        if (errnum == 0 && unnamed)
            errnum = nameunnamed(fd, path);
        if (close(fd) != 0 && errnum == 0)
            errnum = errno;
        if (temppathexists)
            errnum = renametemp(path, errnum);
        *replaced = errnum == 0;
        // And the rename reaches the disk before the run says it is done.
        if (errnum == 0 && fsync(folderfd) != 0)
            errnum = errno;
    }
    releasesignals(old);
    close(folderfd);
    return errnum;
}
