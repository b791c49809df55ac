// Helpers the tests share: temporary folders, whole files, and running the
// built program as a process with real standard input and exit status.
#ifndef MOLTRAVYTEXT_TESTHELPERS_H
#define MOLTRAVYTEXT_TESTHELPERS_H

#include <string>

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

// runtool: runs the program in folder dir with input as its standard input
// (no input at all when noinput), after the shell commands in prelude (for
// example "ulimit -f 10"). Standard output and error are caught whole.
toolrun runtool(const std::string &dir, const std::string &input,
                const std::string &prelude = "", bool noinput = false);

// prompt and report: the exact text the program prints before its glyph
// pass, for a message with the given values.
std::string prompt();
std::string report(const std::string &message, int n0, int longest,
                   int sentences, int width, int height);

#endif
