// Every way a run can fail, as a user meets it: status 1, one clear line on
// standard output, nothing on standard error, no picture written, and an
// earlier picture left byte for byte as it was.
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>
#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include "helpers.h"

namespace {

const char *const earlier = "earlier picture, kept as it was";

// A glyph folder with an earlier picture in it, changed by how.
std::string brokenfolder(const std::string &how) {
    std::string dir = maketempdir();
    writeglyphset(dir);
    writefile(dir + "/moltravytext.bmp", earlier);
    if (how == "missing question") {
        removetree(dir + "/_question.bmp");
    } else if (how == "wrong size") {
        bytes wide(60 * 50, 0);
        stbi_write_bmp((dir + "/k.bmp").c_str(), 60, 50, 1, wide.data());
    } else if (how == "not an image") {
        writefile(dir + "/c.bmp", "just some words\n");
    } else if (how == "truncated") {
        std::string whole = readfile(dir + "/m.bmp");
        writefile(dir + "/m.bmp", whole.substr(0, 1000));
    } else if (how == "folder in the way") {
        removetree(dir + "/moltravytext.bmp");
        makefolder(dir + "/moltravytext.bmp");
        writefile(dir + "/moltravytext.bmp/inside", earlier);
    } else if (how == "link to a folder in the way") {
        removetree(dir + "/moltravytext.bmp");
        makefolder(dir + "/elsewhere");
        writefile(dir + "/elsewhere/inside", earlier);
        std::filesystem::create_directory_symlink("elsewhere",
                                                  dir + "/moltravytext.bmp");
    } else if (how == "jpeg glyph") {
        bytes grey = testglyph(9);
        stbi_write_jpg((dir + "/j.bmp").c_str(), 50, 50, 1, grey.data(), 90);
    }
    return dir;
}

struct failcase {
    const char *how;
    std::string input;
    std::string prelude;
    std::string after;        // what follows the prompt
    std::string wrapper = ""; // system calls made to fail
};

TEST(Failure, StatusMessageAndNothingLost) {
    const std::string hello = report("hello world.", 13, 12, 1, 100, 650);
    const std::string notstored =
        hello + "Picture not stored: moltravytext.bmp: ";
    std::string largest(999, '.');
    largest += std::string(999, 'a');
    std::vector<failcase> cases = {
        {"missing question", "Hello, World!\n", "",
         hello + "currentletter = NULL\n\n"},
        {"wrong size", "Hello, World!\n", "",
         hello + "Glyph file k.bmp is 60 by 50 pixels; glyphs must be 50 by "
                 "50.\n"},
        {"not an image", "Hello, World!\n", "",
         hello + "currentletter = NULL\n\n"},
        {"truncated", "Hello, World!\n", "",
         hello + "currentletter = NULL\n\n"},
        {"folder in the way", "Hello, World!\n", "",
         notstored + "Is a directory.\n"},
        // Only BMP and PNG glyphs are read.
        {"jpeg glyph", "Hello, World!\n", "",
         hello + "currentletter = NULL\n\n"},
        {"too large", largest + "\n", "",
         report(std::string(999, '.') + std::string(999, 'a'), 1998, 999, 1000,
                60040, 50000) +
             "Picture too large to store: 60040 by 50000 pixels would make a "
             "9006000054-byte BMP file, over the limit of 2147483647 bytes.\n"},
        {"empty input", "", "", "No message entered.\n"},
    };
#ifdef _WIN32
    // Windows will not move a file over one that another program holds open
    // without sharing it (an image viewer, say), past the second the run
    // waits for it to let go; Linux replaces it. A read-only picture's
    // attribute, cleared for the move, is given back.
    cases.push_back({"picture held open", "Hello, World!\n", "",
                     notstored + "Permission denied.\n"});
    cases.push_back({"picture held open, read-only", "Hello, World!\n", "",
                     notstored + "Permission denied.\n"});
#else
    // A link needs privileges on Windows; the file size limit is POSIX's.
    cases.push_back({"link to a folder in the way", "Hello, World!\n", "",
                     notstored + "Is a directory.\n"});
    // The picture is 54 + 3 * 100 * 650 bytes; allow 100 blocks of 512.
    cases.push_back({"write fails part-way", "Hello, World!\n",
                     "trap '' XFSZ; ulimit -f 100",
                     notstored + "File too large.\n"});
#endif
#ifdef FAILCALLS
    // Every step of the store failing in turn, on the unnamed file's path
    // and on the named file's path.
    const std::vector<failcase> failedcalls = {
        {"data sync fails", "Hello, World!\n", "",
         notstored + "Input/output error.\n", failing("fdatasync:EIO")},
#ifndef GENERICPOSIX
        {"naming fails", "Hello, World!\n", "",
         notstored + "Input/output error.\n", failing("linkat:EIO")},
#endif
        {"close fails", "Hello, World!\n", "",
         notstored + "No space left on device.\n", failing("close:ENOSPC")},
        {"rename fails", "Hello, World!\n", "",
         notstored + "Input/output error.\n", failing("rename:EIO")},
        {"temporary file not made", "Hello, World!\n", "",
         notstored + "Permission denied.\n",
         failing(std::string(notmpfile) + ",exclusive:EACCES")},
        {"permissions not set", "Hello, World!\n", "",
         notstored + "Operation not permitted.\n",
         failing(std::string(notmpfile) + ",fchmod:EPERM")},
        {"named data sync fails", "Hello, World!\n", "",
         notstored + "Input/output error.\n",
         failing(std::string(notmpfile) + ",fdatasync:EIO")},
        // The new picture has its name when the folder's sync fails: it is
        // there, but a power cut may yet bring the earlier one back.
        {"folder sync fails", "Hello, World!\n", "",
         hello + "Picture stored but not synced to disk: moltravytext.bmp: "
                 "Input/output error.\n",
         failing("fsync:EIO")},
    };
    cases.insert(cases.end(), failedcalls.begin(), failedcalls.end());
#endif
    for (const failcase &c : cases) {
        std::string dir = brokenfolder(c.how);
        std::string before = listing(dir) + "| " + listing(dir + "/elsewhere");
        std::string how = c.how;
        namespace fs = std::filesystem;
        bool readonly = how == "picture held open, read-only";
        if (readonly)
            fs::permissions(dir + "/moltravytext.bmp", fs::perms::owner_write,
                            fs::perm_options::remove);
#ifdef _WIN32
        void *held = how.compare(0, 17, "picture held open") == 0
                         ? holdopen(dir + "/moltravytext.bmp")
                         : nullptr;
#endif
        auto start = std::chrono::steady_clock::now();
        toolrun run = runtool(dir, c.input, c.prelude, false, c.wrapper);
        // A ceiling only a hang reaches: a held picture is waited for about
        // a second, and a run takes well under one, even under wine.
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  std::chrono::seconds(60))
            << c.how;
#ifdef _WIN32
        letgo(held);
#endif
        if (readonly) {
            EXPECT_EQ(fs::status(dir + "/moltravytext.bmp").permissions() &
                          fs::perms::owner_write,
                      fs::perms::none)
                << c.how;
        }
        EXPECT_EQ(run.status, 1) << c.how;
        EXPECT_EQ(run.out, prompt() + c.after) << c.how;
        EXPECT_EQ(run.err, "") << c.how;
        std::string kept =
            how == "folder in the way" ? dir + "/moltravytext.bmp/inside"
            : how == "link to a folder in the way" ? dir + "/elsewhere/inside"
                                                   : dir + "/moltravytext.bmp";
        if (how == "folder sync fails") {
            int width = 0, height = 0;
            std::string why;
            EXPECT_EQ(readbmp(kept, &width, &height, &why).size(), 100u * 650)
                << why;
        } else {
            EXPECT_TRUE(readfile(kept) == earlier) << c.how;
        }
        // Nothing is left behind: no temporary file, nothing else new.
        EXPECT_EQ(listing(dir) + "| " + listing(dir + "/elsewhere"), before)
            << c.how;
        removetree(dir);
    }
}

TEST(Failure, RasterWithoutMemory) {
#if defined(SANITIZED) || defined(_WIN32) || defined(EMULATED) ||              \
    defined(WASIRUN)
    GTEST_SKIP() << "needs an address-space limit, which AddressSanitizer, "
                    "qemu-user and a WebAssembly runtime cannot run under "
                    "and Windows has no ulimit for";
#endif
    // 100 sentences, one of them 1000 positions long: a 6040 by 50050 raster
    // of about 300 MB, under a 200 MB address-space limit.
    std::string input = std::string(99, '.') + std::string(1000, 'a') + "\n";
    std::string dir = brokenfolder("");
    toolrun run = runtool(dir, input, "ulimit -v 200000");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              prompt() +
                  report(std::string(99, '.') + std::string(1000, 'a'), 1099,
                         1000, 100, 6040, 50050) +
                  "Raster memory not allocated: 6040 by 50050 pixels.\n");
    EXPECT_EQ(readfile(dir + "/moltravytext.bmp"), earlier);
    removetree(dir);
}

TEST(Failure, TooLargeIsRefusedAtOnce) {
#if defined(SANITIZED) || defined(_WIN32) || defined(EMULATED) ||              \
    defined(WASIRUN)
    GTEST_SKIP() << "needs an address-space limit, which AddressSanitizer, "
                    "qemu-user and a WebAssembly runtime cannot run under "
                    "and Windows has no ulimit for";
#endif
    // Refused before the raster or any glyph: it works without glyph files
    // and within a small address space.
    std::string dir = maketempdir();
    std::string input = std::string(999, '.') + std::string(999, 'x') + "\n";
    toolrun run = runtool(dir, input, "ulimit -v 50000");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Picture too large to store"), std::string::npos);
    EXPECT_FALSE(fileexists(dir + "/moltravytext.bmp"));
    removetree(dir);
}

#ifdef FAILCALLS
// storingfile: whether process pid holds open a file of its picture being
// written in dir (an unnamed one reads as "dir/#inode (deleted)") that has
// reached a megabyte.
bool storingfile(pid_t pid, const std::string &dir) {
    std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(fds.c_str());
    if (d == NULL)
        return false;
    bool found = false;
    while (struct dirent *e = readdir(d)) {
        std::string fd = fds + "/" + e->d_name;
        char target[4096];
        ssize_t n = readlink(fd.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        std::string name(target, (size_t)n);
        struct stat st;
        if (name.compare(0, dir.size() + 2, dir + "/#") != 0 &&
            name.compare(0, dir.size() + 18, dir + "/moltravytext.bmp.") != 0)
            continue;
        if (stat(fd.c_str(), &st) == 0 && st.st_size > (1 << 20))
            found = true;
    }
    closedir(d);
    return found;
}

// killwhilestoring: starts the program in dir on input (through wrapper when
// not empty), waits until its report is out and its picture is part-written,
// sends sig, and returns the wait status; *report gets what it printed.
int killwhilestoring(const std::string &dir, const std::string &input,
                     const std::string &wrapper, int sig, std::string *report) {
    std::string io = maketempdir();
    writefile(io + "/in", input);
    pid_t pid = fork();
    if (pid == 0) {
        // As from a terminal: the signals at their default actions, whatever
        // the test runner was started with.
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, NULL);
        int in = open((io + "/in").c_str(), O_RDONLY);
        int out = open((io + "/out").c_str(), O_WRONLY | O_CREAT, 0644);
        if (chdir(dir.c_str()) != 0 || in < 0 || out < 0)
            _exit(99);
        dup2(in, 0);
        dup2(out, 1);
        std::string command = "exec " + wrapper + " " + TOOLPATH;
        execl("/bin/sh", "sh", "-c", command.c_str(), (char *)NULL);
        _exit(98);
    }
    bool seen = false;
    for (int tries = 0; tries < 20000 && !seen; tries++) {
        struct timespec pause = {0, 500000};
        nanosleep(&pause, NULL);
        seen =
            readfile(io + "/out").find("Image height") != std::string::npos &&
            storingfile(pid, dir);
    }
    EXPECT_TRUE(seen) << "the picture was never seen being written";
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    *report = readfile(io + "/out");
    removetree(io);
    return status;
}

#endif

TEST(Failure, KilledWhileStoringLeavesTheFolderAsItWas) {
#ifndef FAILCALLS
    GTEST_SKIP() << "signals, /proc and seccomp are Linux's";
#else
    // 20 full stops, then 500 letters: a 1300 by 25050 picture, a 98 MB file.
    const std::string input = std::string(20, '.') + std::string(500, 'q');
    const std::string named = failing(notmpfile);
    const struct {
        std::string wrapper;
        int sig;
    } cases[] = {
        {"", SIGINT},    {"", SIGTERM},    {"", SIGHUP},    {"", SIGKILL},
        {named, SIGINT}, {named, SIGTERM}, {named, SIGHUP},
    };
    for (const auto &c : cases) {
        std::string name =
            std::string(c.wrapper.empty() ? "" : "named file, ") +
            strsignal(c.sig);
#ifdef GENERICPOSIX
        // Only a file without a name vanishes with a killed process.
        if (c.sig == SIGKILL)
            continue;
#endif
        std::string dir = brokenfolder("");
        std::string before = listing(dir);
        std::string out;
        int status = killwhilestoring(dir, input, c.wrapper, c.sig, &out);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig)
            << name << ": status " << status;
        // The report was out before the picture was written.
        EXPECT_EQ(out, prompt() + report(input, 520, 500, 21, 1300, 25050))
            << name;
        EXPECT_EQ(listing(dir), before) << name;
        EXPECT_TRUE(readfile(dir + "/moltravytext.bmp") == earlier) << name;
        removetree(dir);
    }
#endif
}

} // namespace
