// The operating system interface for Linux, macOS and the BSDs: everything
// here goes through POSIX, and what only one of them has stands under its own
// #if. See os.h.
//
// The store: Linux writes the new picture to a file without a name
// (O_TMPFILE), which a run killed even by SIGKILL cannot leave behind, and
// names it only once it is whole and synced. Elsewhere, and on Linux where a
// filesystem has no unnamed files, the generic path writes a named temporary
// file "picture.XXXXXX" and syncs it. Either way the file is then renamed
// over the picture and the folder synced. MOLTRAVYTEXT_GENERICPOSIX builds
// the generic path alone on Linux, so that the path macOS takes is tested
// here.
//
// WASI (a WebAssembly runtime: wasmtime, wasmer, Node, a browser page) takes
// the generic path too, without what WASI lacks: it has no signals, so
// nothing but the runtime itself can end a run part-way, and no file modes.
#if !defined(_WIN32)

#include "os.h"

#include <cerrno>
#if !defined(__wasi__)
#include <csignal>
#endif
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The longest path the store handles: Linux's PATH_MAX, and more than
// macOS's 1024.
static const size_t pathsize = 4096;

#if defined(__wasi__)
#define OSSIGNALS 0
#else
#define OSSIGNALS 1
#endif

#if defined(__linux__) && defined(O_TMPFILE) &&                                \
    !defined(MOLTRAVYTEXT_GENERICPOSIX)
#define OSUNNAMED 1
#else
#define OSUNNAMED 0
#endif

void osstartstreams(void) {
    // POSIX streams carry bytes as they are.
}

int osgetbyte(FILE *in) {
    return getc(in);
}

void osungetbyte(int c, FILE *in) {
    ungetc(c, in);
}

// A FIFO or device under a glyph's name would otherwise block the run or
// feed it without end; opening without blocking lets a FIFO be looked at and
// refused.
int osopenfile(const char *filename, osfile *file) {
    int fd = open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    *file = fd;
    return fd < 0 ? -1 : 0;
}

int64_t osfilesize(osfile file) {
    struct stat st;
    if (fstat((int)file, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return (int64_t)st.st_size;
}

int64_t osreadsome(osfile file, void *buffer, size_t size) {
    for (;;) {
        ssize_t n = read((int)file, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n < 0 ? -1 : (int64_t)n;
    }
}

void osclosefile(osfile file) {
    close((int)file);
}

// While a temporary file has a name, an interrupted run must not leave it
// behind: SIGINT, SIGTERM and SIGHUP remove it, then end the process by the
// same signal, so that the shell still sees 130, 143 or 129. The handler
// uses only unlink, signal and raise, which are safe in a signal handler;
// the name is written here before the file gets it. Naming, renaming and
// removing run with these signals blocked, so that the handler always knows
// whether the name exists.
static char temppath[pathsize];
#if OSSIGNALS
static const int cleanupsignalcount = 3;
static const int cleanupsignals[cleanupsignalcount] = {SIGINT, SIGTERM, SIGHUP};
static volatile sig_atomic_t temppathexists;
static struct sigaction oldactions[cleanupsignalcount];
static sigset_t unblocked;

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
// SIGINT). The earlier actions are kept, for releasesignals.
static void catchsignals(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = removetempandreraise;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < cleanupsignalcount; i++)
        sigaddset(&action.sa_mask, cleanupsignals[i]);
    for (int i = 0; i < cleanupsignalcount; i++) {
        sigaction(cleanupsignals[i], NULL, &oldactions[i]);
        if (oldactions[i].sa_handler != SIG_IGN)
            sigaction(cleanupsignals[i], &action, NULL);
    }
}

static void releasesignals(void) {
    for (int i = 0; i < cleanupsignalcount; i++)
        sigaction(cleanupsignals[i], &oldactions[i], NULL);
}

// blocksignals and unblocksignals bracket every change to whether the
// temporary name exists; a signal that arrives meanwhile waits, then finds
// temppathexists telling the truth.
static void blocksignals(void) {
    sigset_t set;
    sigemptyset(&set);
    for (int i = 0; i < cleanupsignalcount; i++)
        sigaddset(&set, cleanupsignals[i]);
    sigprocmask(SIG_BLOCK, &set, &unblocked);
}

static void unblocksignals(void) {
    sigprocmask(SIG_SETMASK, &unblocked, NULL);
}
#else
// No signals: nothing to catch or block.
static int temppathexists;
static void catchsignals(void) {}
static void releasesignals(void) {}
static void blocksignals(void) {}
static void unblocksignals(void) {}
#endif

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
        char link[pathsize];
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

#if OSUNNAMED
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
        blocksignals();
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
        unblocksignals();
        if (!failed)
            return 0;
        if (errnum != EEXIST)
            return errnum;
    }
    return EEXIST;
}

#endif

// renametemp: moves the named temporary file over path, or removes it when
// errnum, an earlier failure, is not 0. Returns errnum, or the errno value of
// a failed rename.
static int renametemp(const char *path, int errnum) {
    blocksignals();
    if (errnum == 0 && rename(temppath, path) != 0)
        errnum = errno;
    if (errnum != 0)
        unlink(temppath);
    temppathexists = 0;
    unblocksignals();
    return errnum;
}

#if defined(__wasi__)
// mkstemp: what wasi-libc lacks: name, ending in "XXXXXX", made unique with
// six letters or digits from the runtime's random numbers and created new,
// private. Returns the descriptor, or -1 with errno set.
static int mkstemp(char *name) {
    static const char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    size_t at = strlen(name) - 6;
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned char random[6];
        if (getentropy(random, sizeof random) != 0)
            return -1;
        for (int i = 0; i < 6; i++)
            name[at + i] = letters[random[i] % 62];
        int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}
#endif

// opennamed: the fallback where the filesystem has no unnamed files: a new
// file "path.XXXXXX", made private by mkstemp, then given what a plain new
// file gets. Returns the descriptor, or -1 with *errnum set.
static int opennamed(const char *path, int *errnum) {
    blocksignals();
    snprintf(temppath, sizeof temppath, "%s.XXXXXX", path);
    int fd = mkstemp(temppath);
    *errnum = errno;
    temppathexists = fd >= 0;
    unblocksignals();
    if (fd < 0)
        return -1;
#if !defined(__wasi__)
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
        *errnum = errno;
        close(fd);
        renametemp(path, *errnum);
        return -1;
    }
#endif
    return fd;
}

// syncfile: makes fd's data (and, unless dataonly, the rest of it) safe on
// the disk. Returns 0 or -1 with errno set.
static int syncfile(int fd, int dataonly) {
#if defined(F_FULLFSYNC)
    // macOS: fsync leaves the data in the drive's cache; this reaches the
    // platter. Not every filesystem takes it: fsync then.
    if (fcntl(fd, F_FULLFSYNC) == 0)
        return 0;
#endif
#if defined(__linux__)
    if (dataonly)
        return fdatasync(fd);
#endif
    (void)dataonly;
    return fsync(fd);
}

// The replacement under way: the picture's real path, its folder and the new
// file.
static char picturepath[pathsize];
static int folderfd = -1;
static int filefd = -1;
static int unnamed;

int osbeginreplace(const char *filename) {
    int errnum = resolvepicture(filename, picturepath, sizeof picturepath);
    if (errnum != 0)
        return errnum;
    // Room for the temporary name's ".XXXXXX".
    if (strlen(picturepath) + 8 > sizeof temppath)
        return ENAMETOOLONG;
    char folder[pathsize];
    errnum = osfolderof(picturepath, folder, sizeof folder);
    if (errnum != 0)
        return errnum;
    folderfd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderfd < 0)
        return errno;

    catchsignals();
    unnamed = 0;
#if OSUNNAMED
    // The file has no name while it is written, so a run that ends at any
    // moment, even by SIGKILL, leaves nothing behind. open applies the umask.
    filefd = openat(folderfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    unnamed = filefd >= 0;
    if (filefd < 0) {
        errnum = errno;
        // EISDIR from a kernel without O_TMPFILE, EOPNOTSUPP from a
        // filesystem without it.
        if (errnum == EOPNOTSUPP || errnum == EISDIR || errnum == EINVAL)
            filefd = opennamed(picturepath, &errnum);
    }
#else
    filefd = opennamed(picturepath, &errnum);
#endif
    if (filefd < 0) {
        releasesignals();
        close(folderfd);
        return errnum;
    }
    return 0;
}

int oswritereplace(const void *data, size_t size) {
    const unsigned char *at = (const unsigned char *)data;
    while (size > 0) {
        ssize_t n = write(filefd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        at += n;
        size -= (size_t)n;
    }
    return 0;
}

int osfinishreplace(int errnum, int *replaced) {
    // The data reaches the disk before the name does, so that a power cut can
    // never leave the name on a file without its data.
    if (errnum == 0 && syncfile(filefd, 1) != 0)
        errnum = errno;
#if OSUNNAMED
    if (errnum == 0 && unnamed)
        errnum = nameunnamed(filefd, picturepath);
#endif
    if (close(filefd) != 0 && errnum == 0)
        errnum = errno;
    if (temppathexists)
        errnum = renametemp(picturepath, errnum);
    *replaced = errnum == 0;
    // And the rename reaches the disk before the run says it is done.
    if (errnum == 0 && syncfile(folderfd, 0) != 0)
        errnum = errno;
    releasesignals();
    close(folderfd);
    return errnum;
}

#endif
