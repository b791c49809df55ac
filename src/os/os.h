// The operating system, behind one small interface: every call the program
// makes into the system goes through these functions, so that the rest of
// the program is plain standard C and C++ and never asks which system it
// runs on.
//
// Each family of systems has its files: osunix.cpp (Linux, macOS, the BSDs),
// and for Windows oswinconsole.cpp (the console) and oswinstore.cpp (files
// and the store). All are compiled everywhere, each wrapped whole in its
// #if, so the build lists the same sources on every system; what they share
// that needs no system call of its own (readfile.cpp, wintext.cpp,
// errortext.cpp) is tested on every system.
//
//   osstartstreams();                        first thing in main
//   unsigned char *data; size_t size;
//   if (osreadfile("a.bmp", 256 << 10, &data, &size) == 0) ... free(data);
//
//   int err = osbeginreplace("moltravytext.bmp");
//   if (err == 0) err = oswritereplace(bytes, count);   as often as needed
//   int replaced;
//   err = osfinishreplace(err, &replaced);
//   if (err != 0) printf("...: %s.\n", oserrortext(err));
#ifndef MOLTRAVYTEXT_OS_H
#define MOLTRAVYTEXT_OS_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// osstartstreams: standard input and output carry plain bytes. On Windows
// the C runtime's text mode would write "\r\n" for every "\n", end the input
// at a 0x1a byte and fold "\r\r\n"; the line reading takes a "\r" before
// the "\n" as part of the line ending itself, on every system.
void osstartstreams(void);

// osgetbyte: the next byte of the stream in, or EOF; osungetbyte puts one
// byte back, to be read again. The bytes are the stream's own, but for a
// line typed at a Windows console: Windows hands that over in UTF-16, and
// it becomes the UTF-8 bytes a terminal elsewhere gives, whatever the
// console's code page; Ctrl-Z at the start of a line ends the input there;
// and Ctrl-C at the prompt ends the process as Windows ends it, never as
// an empty input. The line reading itself (where a line ends, how long it
// may be) is readmessage's alone.
int osgetbyte(FILE *in);
void osungetbyte(int c, FILE *in);

// osreadfile: the whole of the plain file filename, in a new block of *size
// bytes at *data, which the caller frees. Returns 0, or -1 when the file is
// missing, unreadable, not a plain file (a FIFO, a device, a folder), over
// limit bytes, or changed in size while it was read. It is the same on every
// system (readfile.cpp), above the four calls each system gives for it:
int osreadfile(const char *filename, size_t limit, unsigned char **data,
               size_t *size);

// A file open for reading: a descriptor, or a Windows handle.
typedef intptr_t osfile;

// osopenfile: opens filename for reading into *file, without blocking on a
// FIFO, so that one can never stall the run. Returns 0 or -1.
int osopenfile(const char *filename, osfile *file);

// osfilesize: the size of the open file, or -1 when it is not a plain file
// on a disk (a FIFO, a device, a folder) or its size cannot be had.
int64_t osfilesize(osfile file);

// osreadsome: reads up to size bytes into buffer. Returns how many, 0 at
// the file's end, or -1 when the read fails; a read a signal interrupts is
// tried again.
int64_t osreadsome(osfile file, void *buffer, size_t size);

// osclosefile: closes the file osopenfile opened.
void osclosefile(osfile file);

// osbeginreplace: starts a new file that is to replace filename whole, or
// take its name when there is none: a temporary file beside it, which the
// name only reaches when osfinishreplace succeeds. Until then an
// interruption (Ctrl-C, SIGTERM, SIGHUP, closing the console) removes the
// temporary file before the process ends as the interruption ends it.
// On Linux the file has no name at all until it is whole, so even SIGKILL
// leaves nothing; on Windows 10 1709 and later, on NTFS, the file is marked
// to vanish with the process. A symbolic link in filename's place is
// written through on POSIX systems, the link kept; on Windows a symbolic
// link, a junction or a mount point is left alone and EPERM returned, while
// any other reparse point is a file to replace. A folder in the way gives
// EISDIR.
// Returns 0 or an errno value; on failure nothing is left to finish.
// One replacement at a time.
int osbeginreplace(const char *filename);

// oswritereplace: appends size bytes to the new file. Returns 0 or an errno
// value.
int oswritereplace(const void *data, size_t size);

// osfinishreplace: when errnum is 0, syncs the new file's data to the disk,
// puts it in place of filename and, on POSIX systems, syncs the folder, so
// that after a crash or a power cut the name holds either the earlier file
// or the whole new one. Windows has no way to flush a folder: there the
// data is flushed before the move, but after a power cut the earlier file
// can come back. A read-only earlier file is replaced everywhere; on
// Windows, one that another program holds open is replaced as POSIX does
// where Windows can (10 1607 and later, NTFS), and waited for, about a
// second, where the holder shares nothing.
// When errnum is not 0, or any step fails, the temporary file is removed and
// an earlier file stays as it was. Returns errnum, or the errno value of the
// first step that failed. *replaced is 1 when the new file has the name,
// which the last sync can still fail after.
int osfinishreplace(int errnum, int *replaced);

// Faults that some C libraries have no errno value for (Windows' runtime
// has neither): there the store reports them by numbers of its own, past
// every errno value, which oserrortext knows too.
#ifdef EDQUOT
const int osdiskquota = EDQUOT;
#else
const int osdiskquota = 1122;
#endif
#ifdef ENOMEDIUM
const int osnomedium = ENOMEDIUM;
#else
const int osnomedium = 1123;
#endif

// osfolderof: into folder (size bytes), the folder that holds path, which
// the POSIX store opens to sync after the rename: what comes before path's
// last slash, "/" for a name at the root, "." for a bare name. Returns 0, or
// ENAMETOOLONG when it does not fit. It makes no system call.
int osfolderof(const char *path, char *folder, size_t size);

// oserrortext: the text for an errno value these functions return, the same
// on every system and C library: glibc's words ("Is a directory", "No space
// left on device", "Input/output error"), from a table of its own.
const char *oserrortext(int errnum);

#endif
