// The system layer's own logic, apart from the calls it makes: the text
// work of the Windows layer runs, and is tested, on every system.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include "helpers.h"
#include "os/os.h"
#include "os/oswin.h"
#include "os/wintext.h"

namespace {

TEST(ErrorText, GlibcWordsOnEverySystem) {
    // The words a user reads for the faults the store meets most, the same
    // from every build and C library (musl says "I/O error", Windows'
    // runtime "Filename too long").
    const struct {
        int errnum;
        const char *words;
    } cases[] = {
        {EIO, "Input/output error"},   {ENOSPC, "No space left on device"},
        {EISDIR, "Is a directory"},    {ENAMETOOLONG, "File name too long"},
        {EACCES, "Permission denied"}, {EROFS, "Read-only file system"},
        {-5, "Unknown error -5"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(oserrortext(c.errnum), c.words) << c.errnum;
#ifdef __GLIBC__
    // Where glibc is the C library, every word in the table is its own.
    for (int errnum = 1; errnum < 134; errnum++) {
        const char *words = oserrortext(errnum);
        if (strncmp(words, "Unknown error", 13) != 0) {
            EXPECT_STREQ(words, strerror(errnum)) << errnum;
        }
    }
#endif
}

TEST(PathText, FolderOfAPath) {
    // The folder the POSIX store syncs: a link may lead anywhere, the root
    // among them.
    const struct {
        const char *path;
        const char *folder;
    } cases[] = {
        {"moltravytext.bmp", "."},
        {"/moltravytext.bmp", "/"},
        {"pictures/a.bmp", "pictures"},
        {"/home/me/a.bmp", "/home/me"},
        {"../a.bmp", ".."},
    };
    for (const auto &c : cases) {
        char folder[64];
        EXPECT_EQ(osfolderof(c.path, folder, sizeof folder), 0) << c.path;
        EXPECT_STREQ(folder, c.folder) << c.path;
    }
    char small[4];
    EXPECT_EQ(osfolderof("/home/me/a.bmp", small, sizeof small), ENAMETOOLONG);
}

TEST(ErrorText, WindowsFaultsInLinuxWords) {
    // Each Windows error code a file store meets, by its number, and the
    // words a Linux user reads for the same fault.
    const struct {
        unsigned long code;
        const char *words;
    } cases[] = {
        {2, "No such file or directory"},            // FILE_NOT_FOUND
        {3, "No such file or directory"},            // PATH_NOT_FOUND
        {53, "No such file or directory"},           // BAD_NETPATH
        {5, "Permission denied"},                    // ACCESS_DENIED
        {32, "Permission denied"},                   // SHARING_VIOLATION
        {33, "Permission denied"},                   // LOCK_VIOLATION
        {1314, "Operation not permitted"},           // PRIVILEGE_NOT_HELD
        {4, "Too many open files"},                  // TOO_MANY_OPEN_FILES
        {19, "Read-only file system"},               // WRITE_PROTECT
        {21, "No medium found"},                     // NOT_READY
        {55, "No such device"},                      // DEV_NOT_EXIST
        {39, "No space left on device"},             // HANDLE_DISK_FULL
        {112, "No space left on device"},            // DISK_FULL
        {1295, "Disk quota exceeded"},               // DISK_QUOTA_EXCEEDED
        {183, "File exists"},                        // ALREADY_EXISTS
        {206, "File name too long"},                 // FILENAME_EXCED_RANGE
        {267, "Not a directory"},                    // DIRECTORY
        {223, "File too large"},                     // FILE_TOO_LARGE
        {1921, "Too many levels of symbolic links"}, // CANT_RESOLVE_FILENAME
        {1117, "Input/output error"},                // IO_DEVICE
    };
    for (const auto &c : cases)
        EXPECT_STREQ(oserrortext(errnofromwin(c.code)), c.words) << c.code;
}

TEST(ConsoleText, Utf16BecomesUtf8) {
    // Each line is read in the pieces given; the bytes are what all of them
    // give, and "end" when a piece ends the input.
    const struct {
        const char *name;
        std::vector<std::wstring> pieces;
        std::string bytes;
    } cases[] = {
        {"plain, with its CR LF", {L"Hi.\r\n"}, "Hi.\r\n"},
        {"two and three-byte characters, and either side of the first",
         {L"Zo\u00eb \u20ac\x7f\x80\r\n"},
         "Zo\xc3\xab \xe2\x82\xac\x7f\xc2\x80\r\n"},
        {"a surrogate pair", {L"\xd83d\xde00\r\n"}, "\xf0\x9f\x98\x80\r\n"},
        {"a pair split between two reads",
         {L"a\xd83d", L"\xde00\r\n"},
         "a\xf0\x9f\x98\x80\r\n"},
        {"a lone high surrogate",
         {L"a\xd800"
          L"b"},
         "a\xef\xbf\xbd"
         "b"},
        {"a high surrogate ending a line", {L"\xdbff\r\n"}, "\xef\xbf\xbd\r\n"},
        {"a lone low surrogate", {L"\xdc00z"}, "\xef\xbf\xbdz"},
        {"Ctrl-Z starting the input", {L"\x1a\r\n"}, "end"},
        {"Ctrl-Z starting the next line",
         {L"ab\r\n", L"\x1a\r\n"},
         "ab\r\nend"},
        {"Ctrl-Z inside a line", {L"a\x1a\r\n"}, "a\x1a\r\n"},
        {"a line, then Ctrl-Z, in one read", {L"ab\r\n\x1a\r\n"}, "ab\r\nend"},
        {"nothing read after Ctrl-Z", {L"\x1a\r\n", L"cd\r\n"}, "end"},
    };
    for (const auto &c : cases) {
        consolestate state = {0, 1, 0};
        std::string got;
        for (const std::wstring &piece : c.pieces) {
            unsigned char out[3 * 16 + 3];
            ASSERT_LE(piece.size(), 16u);
            int n = consoleutf8(piece.data(), (int)piece.size(), &state, out);
            if (n >= 0)
                got.append((const char *)out, (size_t)n);
            if (n < 0 || state.ended) {
                got += "end";
                break;
            }
        }
        EXPECT_EQ(got, c.bytes) << c.name;
    }
}

TEST(LongPath, PrefixedFromMaxPath) {
    const std::wstring deep(300, L'd');
    const std::wstring edge = L"C:\\" + std::wstring(longpathfrom - 3, L'e');
    const struct {
        const char *name;
        std::wstring full;
        std::wstring want; // empty: does not fit
        size_t room;
    } cases[] = {
        {"short", L"C:\\work\\a.bmp", L"C:\\work\\a.bmp", 512},
        {"one short of the limit", edge.substr(1), edge.substr(1), 512},
        {"at the limit", edge, L"\\\\?\\" + edge, 512},
        {"deep, on a drive", L"C:\\" + deep + L"\\a.bmp",
         L"\\\\?\\C:\\" + deep + L"\\a.bmp", 512},
        {"deep, on a share", L"\\\\server\\share\\" + deep,
         L"\\\\?\\UNC\\server\\share\\" + deep, 512},
        {"already long", L"\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + deep, 512},
        {"a device path", L"\\\\.\\pipe\\" + deep, L"\\\\.\\pipe\\" + deep,
         512},
        {"no room for the prefix", L"C:\\" + deep, L"", deep.size() + 4},
        {"room for it and no more", L"C:\\" + deep, L"\\\\?\\C:\\" + deep,
         deep.size() + 8},
        {"one short of that", L"C:\\" + deep, L"", deep.size() + 7},
    };
    for (const auto &c : cases) {
        std::vector<wchar_t> out(c.room, L'#');
        int result = longpath(c.full.c_str(), out.data(), c.room);
        EXPECT_EQ(result, c.want.empty() ? -1 : 0) << c.name;
        if (result == 0) {
            EXPECT_TRUE(std::wstring(out.data()) == c.want) << c.name;
        }
    }
}

#ifdef _WIN32
TEST(WindowsStore, RefusedReadOnlyFlagTriesPosixBeforeTheMove) {
    // Windows 10 1607 to 1803 refuse the rename's read-only flag with an
    // invalid-parameter error: the same rename without the flag comes next,
    // and the move only after that is refused too (wine refuses both, so
    // under wine the move puts the picture in place). A read-only picture
    // is replaced all the same.
    std::string dir = maketempdir();
    std::string picture = dir + "/picture.bmp";
    writefile(picture, "earlier");
    ASSERT_EQ(_chmod(picture.c_str(), _S_IREAD), 0);
    storerefuserenames = 1;
    ASSERT_EQ(osbeginreplace(picture.c_str()), 0);
    ASSERT_EQ(oswritereplace("new", 3), 0);
    int replaced = 0;
    EXPECT_EQ(osfinishreplace(0, &replaced), 0);
    EXPECT_EQ(replaced, 1);
    EXPECT_EQ(storerefuserenames, 0);
    EXPECT_STREQ(storetrail, "posix-ignoring-read-only posix move");
    EXPECT_EQ(readfile(picture), "new");
    EXPECT_EQ(filenames(dir).size(), 1u);
    removetree(dir);
}
#endif

} // namespace
