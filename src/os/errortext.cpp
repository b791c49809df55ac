// The words for the errno values the store reports: glibc's, fixed here so
// that every build prints the same line for the same fault. The C library's
// own words differ between systems: musl says "I/O error" where glibc says
// "Input/output error", Windows' runtime "Filename too long" where glibc
// says "File name too long". See os.h.
#include "os.h"

#include <cerrno>
#include <cstdio>

const char *oserrortext(int errnum) {
    switch (errnum) {
    case EPERM:
        return "Operation not permitted";
    case ENOENT:
        return "No such file or directory";
    case EINTR:
        return "Interrupted system call";
    case EIO:
        return "Input/output error";
    case ENXIO:
        return "No such device or address";
    case EBADF:
        return "Bad file descriptor";
    case EAGAIN:
        return "Resource temporarily unavailable";
    case ENOMEM:
        return "Cannot allocate memory";
    case EACCES:
        return "Permission denied";
    case EFAULT:
        return "Bad address";
    case EBUSY:
        return "Device or resource busy";
    case EEXIST:
        return "File exists";
    case EXDEV:
        return "Invalid cross-device link";
    case ENODEV:
        return "No such device";
    case ENOTDIR:
        return "Not a directory";
    case EISDIR:
        return "Is a directory";
    case EINVAL:
        return "Invalid argument";
    case ENFILE:
        return "Too many open files in system";
    case EMFILE:
        return "Too many open files";
    case EFBIG:
        return "File too large";
    case ENOSPC:
        return "No space left on device";
    case ESPIPE:
        return "Illegal seek";
    case EROFS:
        return "Read-only file system";
    case EMLINK:
        return "Too many links";
    case EPIPE:
        return "Broken pipe";
    case ENAMETOOLONG:
        return "File name too long";
    case ENOSYS:
        return "Function not implemented";
#ifdef ELOOP
    case ELOOP:
        return "Too many levels of symbolic links";
#endif
#ifdef ETXTBSY
    case ETXTBSY:
        return "Text file busy";
#endif
#ifdef EOPNOTSUPP
    case EOPNOTSUPP:
        return "Operation not supported";
#endif
    case osdiskquota:
        return "Disk quota exceeded";
    case osnomedium:
        return "No medium found";
#ifdef ESTALE
    case ESTALE:
        return "Stale file handle";
#endif
    }
    static char unknown[32];
    snprintf(unknown, sizeof unknown, "Unknown error %d", errnum);
    return unknown;
}
