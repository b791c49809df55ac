// The operating system interface for Windows. See os.h.
//
// The store writes the new picture to "picture.XXXXXX" beside it, created
// new (never opened if it exists) with six random letters, flushes it to the
// disk and moves it over the picture with MoveFileExW, replacing and written
// through. Where Windows can (10, version 1709 and later), the temporary
// file is marked to be deleted when its handle closes, so that a run killed
// at any moment leaves nothing behind; the mark is cleared just before the
// move. Ctrl-C, Ctrl-Break and closing the console remove it too.
//
// Names are taken as UTF-8 and used through the wide-character calls, so
// that any folder a user has works. Errors are turned into the errno values
// the Linux build reports, and oserrortext gives them Linux's words.
#if defined(_WIN32)

#include "os.h"

#include <windows.h>

#include <bcrypt.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>

void osstartstreams(void) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

// errnofrom: the errno value for a Windows error code: the one the same
// fault gives on Linux.
static int errnofrom(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    default:
        return EIO;
    }
}

const char *oserrortext(int errnum) {
    // The C runtime's own words differ from Linux's for some ("Filename too
    // long", "Not enough space"); a user reads the same on both.
    switch (errnum) {
    case EPERM:
        return "Operation not permitted";
    case ENOENT:
        return "No such file or directory";
    case EIO:
        return "Input/output error";
    case ENOMEM:
        return "Cannot allocate memory";
    case EACCES:
        return "Permission denied";
    case EEXIST:
        return "File exists";
    case ENOTDIR:
        return "Not a directory";
    case EISDIR:
        return "Is a directory";
    case EINVAL:
        return "Invalid argument";
    case EFBIG:
        return "File too large";
    case ENOSPC:
        return "No space left on device";
    case EROFS:
        return "Read-only file system";
    case ENAMETOOLONG:
        return "File name too long";
    default:
        return strerror(errnum);
    }
}

// The longest path the wide-character calls take.
static const int widepathsize = 32768;

// widen: name, UTF-8, as a wide-character path. Returns 0 or an errno value.
static int widen(const char *name, wchar_t *wide) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide,
                            widepathsize) > 0)
        return 0;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : EINVAL;
}

int osreadfile(const char *filename, size_t limit, unsigned char **data,
               size_t *size) {
    static wchar_t name[widepathsize];
    *data = NULL;
    *size = 0;
    if (widen(filename, name) != 0)
        return -1;
    HANDLE file =
        CreateFileW(name, GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    // Only a file on a disk: a pipe or a device could block the run.
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER length;
    unsigned char *buffer = NULL;
    size_t want = 0;
    size_t used = 0;
    if (GetFileType(file) == FILE_TYPE_DISK &&
        GetFileInformationByHandle(file, &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        GetFileSizeEx(file, &length) && (uint64_t)length.QuadPart <= limit) {
        want = (size_t)length.QuadPart;
        // One byte more, to see a file that grew since its size was read.
        buffer = (unsigned char *)malloc(want + 1);
    }
    while (buffer != NULL && used <= want) {
        DWORD n = 0;
        if (!ReadFile(file, buffer + used, (DWORD)(want + 1 - used), &n,
                      NULL)) {
            used = want + 1;
            break;
        }
        if (n == 0)
            break;
        used += n;
    }
    CloseHandle(file);
    if (buffer == NULL || used != want) {
        free(buffer);
        return -1;
    }
    *data = buffer;
    *size = used;
    return 0;
}

// The replacement under way: the picture's name, the temporary file's name
// and handle, and whether Windows deletes the file when the handle closes.
// The console's control handler runs on a thread of its own, so whether the
// temporary name exists changes only under templock, and the handler takes
// it too.
static wchar_t target[widepathsize];
static wchar_t temppath[widepathsize];
static HANDLE tempfile = INVALID_HANDLE_VALUE;
static int deleteonclose;
static CRITICAL_SECTION templock;
static int templockready;
static int tempexists;

// FileDispositionInfoEx, which mingw-w64's headers hide behind a version
// test that no _WIN32_WINNT value passes.
static const FILE_INFO_BY_HANDLE_CLASS dispositioninfoex =
    (FILE_INFO_BY_HANDLE_CLASS)21;

// removetempandend: the console's control handler while a temporary file
// exists. It removes the file, then lets the next handler end the process as
// Windows ends it for the event; templock stays taken, so the store cannot
// go on meanwhile.
static BOOL WINAPI removetempandend(DWORD event) {
    (void)event;
    EnterCriticalSection(&templock);
    if (tempexists)
        DeleteFileW(temppath);
    return FALSE;
}

// maketempname: "target.XXXXXX" into temppath, the six letters or digits
// from the system's random numbers, so that no one can guess the name.
static int maketempname(void) {
    static const wchar_t letters[] =
        L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[6];
    if (BCryptGenRandom(NULL, random, sizeof random,
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return EIO;
    size_t len = wcslen(target);
    if (len + 8 > (size_t)widepathsize)
        return ENAMETOOLONG;
    memcpy(temppath, target, len * sizeof(wchar_t));
    temppath[len] = L'.';
    for (int i = 0; i < 6; i++)
        temppath[len + 1 + i] = letters[random[i] % 62];
    temppath[len + 7] = L'\0';
    return 0;
}

int osbeginreplace(const char *filename) {
    int errnum = widen(filename, target);
    if (errnum != 0)
        return errnum;
    // A folder, or a link to one, in the way: as on Linux. Any other link
    // or reparse point is left as it is, and so is what it leads to.
    DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EISDIR;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return EPERM;
    if (!templockready) {
        InitializeCriticalSection(&templock);
        templockready = 1;
    }
    SetConsoleCtrlHandler(removetempandend, TRUE);
    errnum = EEXIST;
    for (int attempt = 0; attempt < 100 && errnum == EEXIST; attempt++) {
        errnum = maketempname();
        if (errnum != 0)
            break;
        EnterCriticalSection(&templock);
        tempfile =
            CreateFileW(temppath, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                        NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD code = GetLastError();
        tempexists = tempfile != INVALID_HANDLE_VALUE;
        LeaveCriticalSection(&templock);
        errnum = tempexists ? 0 : errnofrom(code);
    }
    if (errnum != 0) {
        SetConsoleCtrlHandler(removetempandend, FALSE);
        return errnum;
    }
    FILE_DISPOSITION_INFO_EX disposal = {FILE_DISPOSITION_FLAG_DELETE |
                                         FILE_DISPOSITION_FLAG_ON_CLOSE};
    deleteonclose = SetFileInformationByHandle(tempfile, dispositioninfoex,
                                               &disposal, sizeof disposal) != 0;
    return 0;
}

int oswritereplace(const void *data, size_t size) {
    const unsigned char *at = (const unsigned char *)data;
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : (DWORD)size;
        DWORD n = 0;
        if (!WriteFile(tempfile, at, chunk, &n, NULL))
            return errnofrom(GetLastError());
        if (n == 0)
            return EIO;
        at += n;
        size -= n;
    }
    return 0;
}

int osfinishreplace(int errnum, int *replaced) {
    *replaced = 0;
    // The data reaches the disk before the name does.
    if (errnum == 0 && !FlushFileBuffers(tempfile))
        errnum = errnofrom(GetLastError());
    if (errnum == 0 && deleteonclose) {
        FILE_DISPOSITION_INFO_EX keep = {FILE_DISPOSITION_FLAG_DO_NOT_DELETE |
                                         FILE_DISPOSITION_FLAG_ON_CLOSE};
        if (SetFileInformationByHandle(tempfile, dispositioninfoex, &keep,
                                       sizeof keep))
            deleteonclose = 0;
        else
            errnum = errnofrom(GetLastError());
    }
    // Closed while still marked, the file is gone already.
    if (!CloseHandle(tempfile) && errnum == 0)
        errnum = errnofrom(GetLastError());
    tempfile = INVALID_HANDLE_VALUE;
    EnterCriticalSection(&templock);
    if (errnum == 0 &&
        !MoveFileExW(temppath, target,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        errnum = errnofrom(GetLastError());
    if (errnum != 0)
        DeleteFileW(temppath);
    tempexists = 0;
    LeaveCriticalSection(&templock);
    *replaced = errnum == 0;
    SetConsoleCtrlHandler(removetempandend, FALSE);
    return errnum;
}

#endif
