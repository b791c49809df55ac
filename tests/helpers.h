// Helpers the tests share: temporary folders, whole files, and running the
// built program as a process with real standard input and exit status. They
// work on Linux and, cross-built, under wine on Windows; what only POSIX has
// (a shell, failing system calls) is marked so.
#ifndef MOLTRAVYTEXT_TESTHELPERS_H
#define MOLTRAVYTEXT_TESTHELPERS_H

#include <cstdio>
#include <string>
#include <vector>

struct toolrun {
    int status; // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// maketempdir: a new empty folder under the system's temporary folder.
std::string maketempdir();
// removetree: removes a folder and everything in it.
void removetree(const std::string &path);

std::string readfile(const std::string &path);
void writefile(const std::string &path, const std::string &data);
bool fileexists(const std::string &path);
void makefolder(const std::string &path);

// filenames: the names in folder dir, sorted; none for a missing folder.
// listing: the same, each followed by a space.
std::vector<std::string> filenames(const std::string &dir);
std::string listing(const std::string &dir);

// copyglyphs: copies every .bmp file of folder from into folder to.
void copyglyphs(const std::string &from, const std::string &to);

// instream: a stream that reads data, for the message reader.
FILE *instream(const std::string &data);

// runtool: runs the program in folder dir with input as its standard input
// (no input at all when noinput), after the shell commands in prelude (for
// example "ulimit -f 10"), and through wrapper when one is given (for example
// failing("fsync:EIO"), or "strace -o log"). Standard output and error are
// caught whole. A prelude and a wrapper need a POSIX shell: on Windows both
// must be empty.
toolrun runtool(const std::string &dir, const std::string &input,
                const std::string &prelude = "", bool noinput = false,
                const std::string &wrapper = "");

#ifdef _WIN32
// holdopen: opens path and shares it with no one, as some programs do,
// until letgo.
void *holdopen(const std::string &path);
void letgo(void *held);
#else
// shellout: what a shell command prints on standard output, run in dir.
std::string shellout(const std::string &dir, const std::string &command);
#endif

#ifdef FAILCALLS
// failing: a wrapper that runs the program with system calls failing, as
// tests/failcalls.cpp takes them (Linux only): failing("tmpfile:EOPNOTSUPP")
// runs it as on a filesystem without unnamed temporary files.
std::string failing(const std::string &rules);
const char *const notmpfile = "tmpfile:EOPNOTSUPP";
#endif

// prompt and report: the exact text the program prints before its glyph
// pass, for a message with the given values.
std::string prompt();
std::string report(const std::string &message, int n0, int longest,
                   int sentences, int width, int height);

typedef std::vector<unsigned char> bytes;

// testglyph: glyph i (0 to 28) of the tests' own glyph set: 50 by 50 grey
// noise, different for every glyph and for every salt, so that a swapped,
// mirrored, flipped or shifted glyph shows in the picture.
bytes testglyph(int i, int salt = 0);

// writeglyphset: writes the 29 test glyphs into dir as 24-bit BMP files
// under the names the program reads.
void writeglyphset(const std::string &dir, int salt = 0);

// glyphfile: the name of glyph i's file.
std::string glyphfile(int i);

// expectedpicture: the picture the placement rules give for the normalised
// message (n0 positions, the rest NUL) with the given 29 glyphs, sized for
// longest and sentences.
bytes expectedpicture(const std::string &normalised, int n0, int longest,
                      int sentences, const std::vector<bytes> &glyphs);

// readbmp: reads a 24-bit BMP as this program stores it, checking every
// header field and that each pixel's three bytes are equal; returns the grey
// raster, top row first, or an empty one (with why) when the file is off.
bytes readbmp(const std::string &path, int *width, int *height,
              std::string *why);
#endif
