// The store side of the Windows system layer: reading a glyph file whole,
// and replacing the picture. See os.h; the console is oswinconsole.cpp.
//
// The store writes the new picture to "picture.XXXXXX" beside it, created
// new (never opened if it exists) with six random letters, flushes it to the
// disk and puts it in the picture's place through its own handle, as POSIX
// renames: a program that holds the old picture open, sharing delete, keeps
// the old bytes while the name gets the new ones, and a read-only picture is
// replaced (Windows 10 1607 and later, on NTFS; before 1809 with the
// read-only attribute cleared first). Where Windows or the filesystem
// cannot (older Windows, FAT, many network shares, wine), it falls back to
// MoveFileExW, clearing a read-only attribute first and putting it back if
// the move fails. A holder that shares nothing, such as
// an indexer or a virus scanner taking a look, is waited out for about a
// second. Nothing flushes the folder: after a power cut the earlier picture
// can come back.
//
// Where Windows can (10, version 1709 and later, on NTFS), the temporary
// file is marked to be deleted when its handle closes, so that a run killed
// at any moment leaves nothing behind; the mark is lifted only for the
// replace. FAT, exFAT and many network shares take no such mark, and there
// a killed run can leave the temporary file. Ctrl-C, Ctrl-Break and closing
// the console remove it on every filesystem. The mark lives with the
// process: a power cut while the picture is written can leave the
// temporary file behind.
//
// Names are taken as UTF-8 and used through the wide-character calls: a
// path of MAX_PATH or more is given in its long form (wintext.h), so that a
// picture's name may take a folder past MAX_PATH. Windows starts a program
// whose own current folder is that deep only with LongPathsEnabled set
// (Windows 10 1607 and later) and the program's manifest declaring
// longPathAware, as this one's does. Errors are turned into the errno
// values the Linux build reports (errnofromwin, wintext.cpp), and
// oserrortext (errortext.cpp) gives them Linux's words.
#if defined(_WIN32)

#include "os.h"
#include "oswin.h"
#include "wintext.h"

#include <windows.h>

#include <bcrypt.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The numbers errnofromwin (wintext.cpp) knows the Windows error codes by,
// checked against Windows' own header (mingw-w64's has no
// ERROR_DISK_QUOTA_EXCEEDED, 1295).
static_assert(ERROR_FILE_NOT_FOUND == 2, "ERROR_FILE_NOT_FOUND");
static_assert(ERROR_PATH_NOT_FOUND == 3, "ERROR_PATH_NOT_FOUND");
static_assert(ERROR_TOO_MANY_OPEN_FILES == 4, "ERROR_TOO_MANY_OPEN_FILES");
static_assert(ERROR_ACCESS_DENIED == 5, "ERROR_ACCESS_DENIED");
static_assert(ERROR_NOT_ENOUGH_MEMORY == 8, "ERROR_NOT_ENOUGH_MEMORY");
static_assert(ERROR_OUTOFMEMORY == 14, "ERROR_OUTOFMEMORY");
static_assert(ERROR_INVALID_DRIVE == 15, "ERROR_INVALID_DRIVE");
static_assert(ERROR_NOT_SAME_DEVICE == 17, "ERROR_NOT_SAME_DEVICE");
static_assert(ERROR_WRITE_PROTECT == 19, "ERROR_WRITE_PROTECT");
static_assert(ERROR_NOT_READY == 21, "ERROR_NOT_READY");
static_assert(ERROR_SHARING_VIOLATION == 32, "ERROR_SHARING_VIOLATION");
static_assert(ERROR_LOCK_VIOLATION == 33, "ERROR_LOCK_VIOLATION");
static_assert(ERROR_HANDLE_DISK_FULL == 39, "ERROR_HANDLE_DISK_FULL");
static_assert(ERROR_BAD_NETPATH == 53, "ERROR_BAD_NETPATH");
static_assert(ERROR_DEV_NOT_EXIST == 55, "ERROR_DEV_NOT_EXIST");
static_assert(ERROR_NETWORK_ACCESS_DENIED == 65, "ERROR_NETWORK_ACCESS_DENIED");
static_assert(ERROR_BAD_NET_NAME == 67, "ERROR_BAD_NET_NAME");
static_assert(ERROR_FILE_EXISTS == 80, "ERROR_FILE_EXISTS");
static_assert(ERROR_INVALID_PARAMETER == 87, "ERROR_INVALID_PARAMETER");
static_assert(ERROR_BUFFER_OVERFLOW == 111, "ERROR_BUFFER_OVERFLOW");
static_assert(ERROR_DISK_FULL == 112, "ERROR_DISK_FULL");
static_assert(ERROR_INVALID_NAME == 123, "ERROR_INVALID_NAME");
static_assert(ERROR_BAD_PATHNAME == 161, "ERROR_BAD_PATHNAME");
static_assert(ERROR_ALREADY_EXISTS == 183, "ERROR_ALREADY_EXISTS");
static_assert(ERROR_FILENAME_EXCED_RANGE == 206, "ERROR_FILENAME_EXCED_RANGE");
static_assert(ERROR_FILE_TOO_LARGE == 223, "ERROR_FILE_TOO_LARGE");
static_assert(ERROR_DIRECTORY == 267, "ERROR_DIRECTORY");
static_assert(ERROR_PRIVILEGE_NOT_HELD == 1314, "ERROR_PRIVILEGE_NOT_HELD");
static_assert(ERROR_CANT_RESOLVE_FILENAME == 1921,
              "ERROR_CANT_RESOLVE_FILENAME");

// The longest path the wide-character calls take.
static const int widepathsize = 32768;

// widepath: name, UTF-8, as the path the wide-character calls are given:
// its full path, in the long form from MAX_PATH on, since Windows resolves a
// relative name against the current folder and then holds the whole path to
// MAX_PATH. Returns 0 or an errno value.
static int widepath(const char *name, wchar_t *path) {
    static wchar_t given[widepathsize];
    static wchar_t full[widepathsize];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, given,
                            widepathsize) <= 0)
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG
                                                           : EINVAL;
    DWORD n = GetFullPathNameW(given, widepathsize, full, NULL);
    if (n == 0)
        return errnofromwin(GetLastError());
    if (n >= (DWORD)widepathsize || longpath(full, path, widepathsize) != 0)
        return ENAMETOOLONG;
    return 0;
}

int osopenfile(const char *filename, osfile *file) {
    static wchar_t name[widepathsize];
    *file = (osfile)INVALID_HANDLE_VALUE;
    if (widepath(filename, name) != 0)
        return -1;
    HANDLE handle =
        CreateFileW(name, GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    *file = (osfile)handle;
    return handle == INVALID_HANDLE_VALUE ? -1 : 0;
}

// Only a file on a disk: a pipe or a device could block the run.
int64_t osfilesize(osfile file) {
    HANDLE handle = (HANDLE)file;
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER length;
    if (GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !GetFileSizeEx(handle, &length))
        return -1;
    return (int64_t)length.QuadPart;
}

int64_t osreadsome(osfile file, void *buffer, size_t size) {
    DWORD n = 0;
    DWORD most = size < 0x40000000u ? (DWORD)size : 0x40000000u;
    if (!ReadFile((HANDLE)file, buffer, most, &n, NULL))
        return -1;
    return (int64_t)n;
}

void osclosefile(osfile file) {
    CloseHandle((HANDLE)file);
}

// The replacement under way: the picture's name, the temporary file's name
// and handle, and whether Windows takes the mark that deletes the file when
// its handle closes. The console's control handler runs on a thread of its
// own, so whether the temporary name exists changes only under templock,
// and the handler takes it too.
static wchar_t target[widepathsize];
static wchar_t temppath[widepathsize];
static HANDLE tempfile = INVALID_HANDLE_VALUE;
static int canmark;
static CRITICAL_SECTION templock;
static int templockready;
static int tempexists;

// What mingw-w64's headers declare only past the Windows version this
// program needs: FileDispositionInfoEx; FileRenameInfoEx and its flags; and
// FILE_RENAME_INFO as that class takes it, flags where the older class has
// a BOOLEAN.
static const FILE_INFO_BY_HANDLE_CLASS dispositioninfoex =
    (FILE_INFO_BY_HANDLE_CLASS)21;
static const FILE_INFO_BY_HANDLE_CLASS renameinfoex =
    (FILE_INFO_BY_HANDLE_CLASS)22;
static const DWORD renamereplace = 0x1;
static const DWORD renameposix = 0x2;
static const DWORD renameignorereadonly = 0x40;
struct renameinfo {
    DWORD flags;
    HANDLE root;
    DWORD length; // of the name, in bytes
    wchar_t name[widepathsize];
};

// How long a picture held open by another program is waited for, in
// milliseconds, with pauses that double from the first.
static const DWORD holdwait = 1000;
static const DWORD firstpause = 10;

// removetempandend: the console's control handler while a temporary file
// exists. It removes the file, then ends the process as Windows ends it for
// the event; templock stays taken, so the store cannot go on meanwhile.
static BOOL WINAPI removetempandend(DWORD event) {
    EnterCriticalSection(&templock);
    if (tempexists)
        DeleteFileW(temppath);
    return endforctrlc(event);
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

// markdelete: marks the open temporary file to be deleted when its handle
// closes, or lifts the mark. Returns 0 or a Windows error code.
static DWORD markdelete(int on) {
    DWORD flags =
        on ? FILE_DISPOSITION_FLAG_DELETE : FILE_DISPOSITION_FLAG_DO_NOT_DELETE;
    FILE_DISPOSITION_INFO_EX disposal = {flags |
                                         FILE_DISPOSITION_FLAG_ON_CLOSE};
    return SetFileInformationByHandle(tempfile, dispositioninfoex, &disposal,
                                      sizeof disposal)
               ? 0
               : GetLastError();
}

// The forms of the replace, tried in this order until one is taken: as
// POSIX renames, told to ignore a read-only picture (Windows 10 1809 and
// later, on NTFS); as POSIX renames, a read-only attribute cleared for it
// (1607 to 1803 know the rename but refuse that flag); and the fallback, a
// move with the temporary file closed.
static const int byposixignoringreadonly = 2;
static const int byposix = 1;
static const int bymove = 0;

// The test seam: storerefuserenames renames as POSIX does are refused as
// Windows 10 1607 to 1803 refuse the read-only flag, and storetrail names
// each form tried, in order (oswin.h).
int storerefuserenames;
char storetrail[256];

// notetrail: adds a form's name to storetrail, unless the last try was in
// the same form.
static void notetrail(const char *form) {
    size_t used = strlen(storetrail);
    size_t length = strlen(form);
    if (used >= length && strcmp(storetrail + used - length, form) == 0)
        return;
    if (used + length + 2 < sizeof storetrail) {
        if (used > 0)
            storetrail[used++] = ' ';
        strcpy(storetrail + used, form);
    }
}

// replaceposix: puts the open temporary file in the picture's place as
// POSIX renames, with the given flags beside replace and POSIX semantics:
// a picture that another program holds open sharing delete is replaced.
// Returns 0, a Windows error code, or ERROR_NOT_SUPPORTED where Windows or
// the filesystem takes no such rename or no such flag.
static DWORD replaceposix(DWORD flags) {
    static renameinfo info;
    size_t length = wcslen(target);
    info.flags = renamereplace | renameposix | flags;
    info.root = NULL;
    info.length = (DWORD)(length * sizeof(wchar_t));
    memcpy(info.name, target, (length + 1) * sizeof(wchar_t));
    DWORD size =
        (DWORD)(offsetof(renameinfo, name) + (length + 1) * sizeof(wchar_t));
    notetrail(flags & renameignorereadonly ? "posix-ignoring-read-only"
                                           : "posix");
    DWORD code = 0;
    if (storerefuserenames > 0) {
        storerefuserenames--;
        code = ERROR_INVALID_PARAMETER;
    } else if (!SetFileInformationByHandle(tempfile, renameinfoex, &info,
                                           size)) {
        code = GetLastError();
    }
    // Before Windows 10 1607 (and on 1607 to 1803, for the read-only flag),
    // and on filesystems without it, the class or a flag is refused so.
    if (code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_FUNCTION)
        return ERROR_NOT_SUPPORTED;
    return code;
}

// clearreadonly: clears the picture's read-only attribute, for a replace
// that Windows refuses over a read-only file, keeping in *attributes what
// to give back (INVALID_FILE_ATTRIBUTES: nothing). Returns 0 or a Windows
// error code.
static DWORD clearreadonly(DWORD *attributes) {
    *attributes = GetFileAttributesW(target);
    if (*attributes == INVALID_FILE_ATTRIBUTES ||
        !(*attributes & FILE_ATTRIBUTE_READONLY)) {
        *attributes = INVALID_FILE_ATTRIBUTES;
        return 0;
    }
    DWORD writable = *attributes & ~FILE_ATTRIBUTE_READONLY;
    if (SetFileAttributesW(target, writable ? writable : FILE_ATTRIBUTE_NORMAL))
        return 0;
    *attributes = INVALID_FILE_ATTRIBUTES;
    return GetLastError();
}

// giveback: puts back the attributes clearreadonly cleared, after a replace
// that failed.
static void giveback(DWORD attributes) {
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(target, attributes);
}

// replaceposixwritable: the second form: as POSIX renames, the read-only
// attribute cleared first and given back if the rename fails. Returns as
// replaceposix.
static DWORD replaceposixwritable(void) {
    DWORD attributes;
    DWORD code = clearreadonly(&attributes);
    if (code != 0)
        return code;
    code = replaceposix(0);
    if (code != 0)
        giveback(attributes);
    return code;
}

// replacemove: the fallback, with the temporary file closed: a move over
// the picture, its read-only attribute cleared for the move and given back
// if the move fails. Returns 0 or a Windows error code.
static DWORD replacemove(void) {
    DWORD attributes;
    DWORD code = clearreadonly(&attributes);
    if (code != 0)
        return code;
    notetrail("move");
    if (MoveFileExW(temppath, target,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    code = GetLastError();
    giveback(attributes);
    return code;
}

// replaceonce: one try at the replace, in the form *form names; a form that
// Windows or the filesystem refuses passes to the next for good. While the
// temporary file is open it is unmarked for the try and marked again when
// the try fails, so that a run killed while it waits for the picture's
// holder still leaves nothing. Returns 0 or a Windows error code.
static DWORD replaceonce(int *form) {
    while (*form != bymove) {
        // Marked, the file would vanish with its handle under its new name.
        DWORD code = canmark ? markdelete(0) : 0;
        if (code == 0)
            code = *form == byposixignoringreadonly
                       ? replaceposix(renameignorereadonly)
                       : replaceposixwritable();
        if (code != ERROR_NOT_SUPPORTED) {
            if (code != 0 && canmark)
                markdelete(1);
            return code;
        }
        *form = *form == byposixignoringreadonly ? byposix : bymove;
    }
    if (tempfile != INVALID_HANDLE_VALUE) {
        BOOL closed = CloseHandle(tempfile);
        tempfile = INVALID_HANDLE_VALUE;
        if (!closed)
            return GetLastError();
    }
    return replacemove();
}

int osbeginreplace(const char *filename) {
    int errnum = widepath(filename, target);
    if (errnum != 0)
        return errnum;
    // A folder, or a link to one, in the way: as on Linux. A symbolic link,
    // a junction or a mount point, which stands for another name, is left
    // as it is, and so is what it leads to; any other reparse point (a
    // deduplicated file, a cloud placeholder) is a file to replace.
    DWORD attributes = GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EISDIR;
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(target, &found);
        if (search == INVALID_HANDLE_VALUE)
            return EPERM;
        FindClose(search);
        if (IsReparseTagNameSurrogate(found.dwReserved0))
            return EPERM;
    }
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
        errnum = tempexists ? 0 : errnofromwin(code);
    }
    if (errnum != 0) {
        SetConsoleCtrlHandler(removetempandend, FALSE);
        return errnum;
    }
    canmark = markdelete(1) == 0;
    return 0;
}

int oswritereplace(const void *data, size_t size) {
    const unsigned char *at = (const unsigned char *)data;
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : (DWORD)size;
        DWORD n = 0;
        if (!WriteFile(tempfile, at, chunk, &n, NULL))
            return errnofromwin(GetLastError());
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
        errnum = errnofromwin(GetLastError());
    // Another program may hold the picture open without sharing it: an
    // indexer, a virus scanner or a preview taking a look lets go soon, so
    // the replace is tried again, pausing ever longer, for about a second.
    // The control handler can run in every pause.
    int form = byposixignoringreadonly;
    storetrail[0] = '\0';
    DWORD waited = 0;
    for (DWORD pause = firstpause; errnum == 0 && !*replaced; pause *= 2) {
        EnterCriticalSection(&templock);
        DWORD code = replaceonce(&form);
        *replaced = code == 0;
        if (*replaced)
            tempexists = 0;
        LeaveCriticalSection(&templock);
        int held = code == ERROR_SHARING_VIOLATION ||
                   code == ERROR_ACCESS_DENIED || code == ERROR_LOCK_VIOLATION;
        if (!*replaced && (!held || waited >= holdwait)) {
            errnum = errnofromwin(code);
        } else if (!*replaced) {
            DWORD step = pause < holdwait - waited ? pause : holdwait - waited;
            Sleep(step);
            waited += step;
        }
    }
    // Closed while still marked, the file is gone already.
    if (tempfile != INVALID_HANDLE_VALUE && !CloseHandle(tempfile) &&
        errnum == 0)
        errnum = errnofromwin(GetLastError());
    tempfile = INVALID_HANDLE_VALUE;
    EnterCriticalSection(&templock);
    if (errnum != 0 && tempexists)
        DeleteFileW(temppath);
    tempexists = 0;
    LeaveCriticalSection(&templock);
    SetConsoleCtrlHandler(removetempandend, FALSE);
    return errnum;
}

#endif
