// The operating system interface for Windows. See os.h.
//
// The store writes the new picture to "picture.XXXXXX" beside it, created
// new (never opened if it exists) with six random letters, flushes it to the
// disk and puts it in the picture's place through its own handle, as POSIX
// renames: a program that holds the old picture open, sharing delete, keeps
// the old bytes while the name gets the new ones, and a read-only picture is
// replaced (Windows 10 1809 and later, on NTFS). Where Windows or the
// filesystem cannot (older Windows, FAT, many network shares, wine), it
// falls back to MoveFileExW, clearing a read-only attribute first and
// putting it back if the move fails. A holder that shares nothing, such as
// an indexer or a virus scanner taking a look, is waited out for about a
// second. Nothing flushes the folder: after a power cut the earlier picture
// can come back.
//
// Where Windows can (10, version 1709 and later, on NTFS), the temporary
// file is marked to be deleted when its handle closes, so that a run killed
// at any moment leaves nothing behind; the mark is lifted only for the
// replace. FAT, exFAT and many network shares take no such mark, and there
// a killed run can leave the temporary file. Ctrl-C, Ctrl-Break and closing
// the console remove it on every filesystem.
//
// Names are taken as UTF-8 and used through the wide-character calls, so
// that any folder a user has works, at any depth: a path of MAX_PATH or
// more is given in its long form (wintext.h). Errors are turned into the
// errno values the Linux build reports, and oserrortext (errortext.cpp)
// gives them Linux's words.
#if defined(_WIN32)

#include "os.h"
#include "wintext.h"

#include <windows.h>

#include <bcrypt.h>
#include <cerrno>
#include <cstddef>
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

// A line typed at the console, as it is handed out: its UTF-8 bytes, the
// next one's place, a byte put back, and what one read leaves the next.
// ReadConsoleW returns a long line a piece at a time.
static const int consoleunits = 1024;
static unsigned char consolebytes[3 * consoleunits + 3];
static int consoleat;
static int consolecount;
static int consoleback = EOF;
static int consoleended;
static consolestate console = {0, 1};
static int stdinconsole = -1; // not yet known
static HANDLE ctrlcevent;

// endforctrlc: ends the process for Ctrl-C and Ctrl-Break with the status
// Windows' own handler gives it (wine's gives 0, which a script would take
// for success); any other event goes on to the next handler. Handlers run
// on a thread of their own.
static BOOL endforctrlc(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        ExitProcess(STATUS_CONTROL_C_EXIT);
    return FALSE;
}

// notectrlc: the console's control handler while a line is read. Ctrl-C
// and Ctrl-Break stop the read; the reading thread is told, so that it
// does not take the stopped read for an empty input while this one ends
// the process.
static BOOL WINAPI notectrlc(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        SetEvent(ctrlcevent);
    return endforctrlc(event);
}

// isconsole: whether standard input is a console, asked once.
static int isconsole(FILE *in) {
    if (in != stdin)
        return 0;
    if (stdinconsole < 0) {
        DWORD mode;
        stdinconsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
        if (stdinconsole) {
            ctrlcevent = CreateEventW(NULL, TRUE, FALSE, NULL);
            SetConsoleCtrlHandler(notectrlc, TRUE);
        }
    }
    return stdinconsole;
}

// consolebyte: the next byte of the console's line, read as UTF-16 and
// handed on as UTF-8; EOF after a Ctrl-Z line or a read that failed.
static int consolebyte(void) {
    static wchar_t units[consoleunits];
    while (consoleat == consolecount) {
        DWORD n = 0;
        if (consoleended)
            return EOF;
        if (!ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), units, consoleunits,
                          &n, NULL) ||
            n == 0) {
            // A read stopped by Ctrl-C returns before the handlers have
            // ended the process: wait for them, rather than report an empty
            // input first.
            if (ctrlcevent != NULL &&
                WaitForSingleObject(ctrlcevent, 500) == WAIT_OBJECT_0)
                Sleep(5000);
            consoleended = 1;
            return EOF;
        }
        consolecount = consoleutf8(units, (int)n, &console, consolebytes);
        consoleat = 0;
        if (consolecount < 0) {
            consolecount = 0;
            consoleended = 1;
        }
    }
    return consolebytes[consoleat++];
}

int osgetbyte(FILE *in) {
    if (!isconsole(in))
        return getc(in);
    int c = consoleback;
    consoleback = EOF;
    return c != EOF ? c : consolebyte();
}

void osungetbyte(int c, FILE *in) {
    if (isconsole(in))
        consoleback = c;
    else
        ungetc(c, in);
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
        return errnofrom(GetLastError());
    if (n >= (DWORD)widepathsize || longpath(full, path, widepathsize) != 0)
        return ENAMETOOLONG;
    return 0;
}

int osreadfile(const char *filename, size_t limit, unsigned char **data,
               size_t *size) {
    static wchar_t name[widepathsize];
    *data = NULL;
    *size = 0;
    if (widepath(filename, name) != 0)
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

// replaceposix: puts the open temporary file in the picture's place as
// POSIX renames, replacing a picture that is read-only or that another
// program holds open sharing delete. Returns 0, a Windows error code, or
// ERROR_NOT_SUPPORTED where Windows or the filesystem takes no such rename.
static DWORD replaceposix(void) {
    static renameinfo info;
    size_t length = wcslen(target);
    info.flags = renamereplace | renameposix | renameignorereadonly;
    info.root = NULL;
    info.length = (DWORD)(length * sizeof(wchar_t));
    memcpy(info.name, target, (length + 1) * sizeof(wchar_t));
    DWORD size =
        (DWORD)(offsetof(renameinfo, name) + (length + 1) * sizeof(wchar_t));
    if (SetFileInformationByHandle(tempfile, renameinfoex, &info, size))
        return 0;
    DWORD code = GetLastError();
    // Before Windows 10 1607 (and on 1607 to 1803, for the read-only flag),
    // and on filesystems without it, the class or a flag is refused so.
    if (code == ERROR_INVALID_PARAMETER || code == ERROR_INVALID_FUNCTION)
        return ERROR_NOT_SUPPORTED;
    return code;
}

// replacemove: the fallback, with the temporary file closed: a move over
// the picture, which Windows refuses for a read-only one; its attribute is
// cleared for the move and given back if the move fails. Returns 0 or a
// Windows error code.
static DWORD replacemove(void) {
    DWORD attributes = GetFileAttributesW(target);
    int readonly = attributes != INVALID_FILE_ATTRIBUTES &&
                   (attributes & FILE_ATTRIBUTE_READONLY);
    DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (readonly && !SetFileAttributesW(
                        target, writable ? writable : FILE_ATTRIBUTE_NORMAL))
        return GetLastError();
    if (MoveFileExW(temppath, target,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    DWORD code = GetLastError();
    if (readonly)
        SetFileAttributesW(target, attributes);
    return code;
}

// replaceonce: one try at the replace, as POSIX renames while *posix, else
// by the fallback, to which the first refusal turns for good. A failed try
// leaves the temporary file marked again. Returns 0 or a Windows error code.
static DWORD replaceonce(int *posix) {
    if (*posix) {
        // Marked, the file would vanish with its handle under its new name.
        DWORD code = canmark ? markdelete(0) : 0;
        if (code == 0)
            code = replaceposix();
        if (code != ERROR_NOT_SUPPORTED) {
            if (code != 0 && canmark)
                markdelete(1);
            return code;
        }
        *posix = 0;
        if (!CloseHandle(tempfile))
            code = GetLastError();
        tempfile = INVALID_HANDLE_VALUE;
        if (code != ERROR_NOT_SUPPORTED)
            return code;
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
        errnum = tempexists ? 0 : errnofrom(code);
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
    // Another program may hold the picture open without sharing it: an
    // indexer, a virus scanner or a preview taking a look lets go soon, so
    // the replace is tried again, pausing ever longer, for about a second.
    // The control handler can run in every pause.
    int posix = 1;
    DWORD waited = 0;
    for (DWORD pause = firstpause; errnum == 0 && !*replaced; pause *= 2) {
        EnterCriticalSection(&templock);
        DWORD code = replaceonce(&posix);
        *replaced = code == 0;
        if (*replaced)
            tempexists = 0;
        LeaveCriticalSection(&templock);
        int held = code == ERROR_SHARING_VIOLATION ||
                   code == ERROR_ACCESS_DENIED || code == ERROR_LOCK_VIOLATION;
        if (!*replaced && (!held || waited >= holdwait)) {
            errnum = errnofrom(code);
        } else if (!*replaced) {
            DWORD step = pause < holdwait - waited ? pause : holdwait - waited;
            Sleep(step);
            waited += step;
        }
    }
    // Closed while still marked, the file is gone already.
    if (tempfile != INVALID_HANDLE_VALUE && !CloseHandle(tempfile) &&
        errnum == 0)
        errnum = errnofrom(GetLastError());
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
