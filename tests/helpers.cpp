#include "helpers.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include <stb_image_write.h>

namespace fs = std::filesystem;

std::string maketempdir() {
    static unsigned counter;
    fs::path base = fs::temp_directory_path();
    for (;;) {
        unsigned tag = (unsigned)time(NULL) * 2654435761u ^ (unsigned)rand() ^
                       ++counter * 40503u;
        fs::path dir = base / ("moltravytest." + std::to_string(tag));
        std::error_code error;
        if (fs::create_directory(dir, error))
            return dir.generic_string();
        if (error)
            abort();
    }
}

void removetree(const std::string &path) {
    std::error_code error;
    fs::remove_all(path, error);
    if (error)
        fprintf(stderr, "could not remove %s\n", path.c_str());
}

std::string readfile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void writefile(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), (std::streamsize)data.size());
}

bool fileexists(const std::string &path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

void makefolder(const std::string &path) {
    if (!fs::create_directory(path))
        abort();
}

std::vector<std::string> filenames(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry &e : fs::directory_iterator(dir, error))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string listing(const std::string &dir) {
    std::string all;
    for (const std::string &name : filenames(dir))
        all += name + " ";
    return all;
}

void copyglyphs(const std::string &from, const std::string &to) {
    for (const fs::directory_entry &e : fs::directory_iterator(from))
        if (e.path().extension() == ".bmp")
            fs::copy_file(e.path(), fs::path(to) / e.path().filename());
}

FILE *instream(const std::string &data) {
    FILE *in = tmpfile();
    if (in != NULL) {
        fwrite(data.data(), 1, data.size(), in);
        rewind(in);
    }
    return in;
}

#ifdef _WIN32
void *holdopen(const std::string &path) {
    return CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

void letgo(void *held) {
    if (held != NULL && held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
}

// runprocess: runs program in folder dir with its standard streams on the
// files in, out and err; returns its exit status, or -1.
static int runprocess(const std::string &program, const std::string &dir,
                      const std::string &in, const std::string &out,
                      const std::string &err) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE streams[3] = {
        CreateFileA(in.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL),
        CreateFileA(out.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, NULL),
        CreateFileA(err.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, NULL)};
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = streams[0];
    startup.hStdOutput = streams[1];
    startup.hStdError = streams[2];
    PROCESS_INFORMATION process;
    std::string command = "\"" + program + "\"";
    int status = -1;
    // Wine on a busy machine has once failed to start the program here:
    // tried again, and a failure told on err.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 3 && !started; attempt++) {
        if (attempt > 0)
            Sleep(500);
        started = CreateProcessA(program.c_str(), &command[0], NULL, NULL, TRUE,
                                 0, NULL, dir.c_str(), &startup, &process);
    }
    if (!started) {
        std::string why =
            "CreateProcessA failed: " + std::to_string(GetLastError()) + "\n";
        DWORD written = 0;
        WriteFile(streams[2], why.data(), (DWORD)why.size(), &written, NULL);
    }
    if (started) {
        DWORD code = 0;
        WaitForSingleObject(process.hProcess, INFINITE);
        if (GetExitCodeProcess(process.hProcess, &code))
            status = (int)code;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (HANDLE h : streams)
        CloseHandle(h);
    return status;
}
#endif

toolrun runtool(const std::string &dir, const std::string &input,
                const std::string &prelude, bool noinput,
                const std::string &wrapper) {
    std::string io = maketempdir();
    writefile(io + "/in", noinput ? "" : input);
    toolrun run;
#ifdef _WIN32
    // No shell: the prelude and the wrapper are POSIX's.
    if (!prelude.empty() || !wrapper.empty())
        abort();
    run.status = runprocess(TOOLPATH, dir, noinput ? "NUL" : io + "/in",
                            io + "/out", io + "/err");
#else
    std::string cmd = "cd '" + dir + "' && " +
                      (prelude.empty() ? "" : prelude + " && ") + "exec " +
                      (wrapper.empty() ? "" : wrapper + " ") + TOOLPATH + " <" +
                      (noinput ? "/dev/null" : io + "/in") + " >" + io +
                      "/out 2>" + io + "/err";
    int raw = system(cmd.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    run.out = readfile(io + "/out");
    run.err = readfile(io + "/err");
    removetree(io);
    return run;
}

#ifdef FAILCALLS
std::string failing(const std::string &rules) {
    return std::string(FAILCALLS) + " " + rules;
}
#endif

#ifndef _WIN32
std::string shellout(const std::string &dir, const std::string &command) {
    std::string full = "cd '" + dir + "' && " + command;
    FILE *pipe = popen(full.c_str(), "r");
    if (pipe == NULL)
        return "";
    std::string out;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    pclose(pipe);
    return out;
}
#endif

std::string prompt() {
    return "\n\n(2000 character maximum)\nEnter message: ";
}

std::string report(const std::string &message, int n0, int longest,
                   int sentences, int width, int height) {
    char text[4096 + 2000];
    snprintf(text, sizeof text,
             "Message:             %s\n"
             "Message Length:      %d\n"
             "Longest Sentence:    %d\n"
             "Number of Sentences: %d\n"
             "Image  width:        %d\n"
             "Image height:        %d\n",
             message.c_str(), n0, longest, sentences, width, height);
    return text;
}

bytes testglyph(int i, int salt) {
    bytes glyph(2500);
    uint32_t state = 2463534242u ^ (uint32_t)(i * 7919 + salt * 104729 + 1);
    for (unsigned char &b : glyph) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = (unsigned char)(state >> 24);
    }
    return glyph;
}

std::string glyphfile(int i) {
    if (i < 26)
        return std::string(1, (char)('a' + i)) + ".bmp";
    const char *names[3] = {"_.bmp", "_period.bmp", "_question.bmp"};
    return names[i - 26];
}

void writeglyphset(const std::string &dir, int salt) {
    for (int i = 0; i < 29; i++) {
        bytes glyph = testglyph(i, salt);
        std::string path = dir + "/" + glyphfile(i);
        if (!stbi_write_bmp(path.c_str(), 50, 50, 1, glyph.data()))
            abort();
    }
}

bytes expectedpicture(const std::string &normalised, int n0, int longest,
                      int sentences, const std::vector<bytes> &glyphs) {
    int width = 60 * sentences + 40;
    int height = 50 * (longest + 1);
    bytes picture((size_t)width * height, 255);
    for (int row = height - 25; row < height - 21; row++)
        for (int x = 0; x < width; x++)
            picture[(size_t)row * width + x] = 0;
    const std::string symbols = "abcdefghijklmnopqrstuvwxyz .?";
    int column = 0;
    int cell = 0;
    for (int p = 0; p < n0; p++) {
        char c = p < (int)normalised.size() ? normalised[p] : '\0';
        size_t g = c ? symbols.find(c) : std::string::npos;
        if (g != std::string::npos) {
            int top = height - 75 - 50 * cell;
            int left = 25 + 60 * column;
            for (int cy = 0; cy < 50; cy++)
                for (int cx = 0; cx < 50; cx++)
                    picture[(size_t)(top + cy) * width + left + cx] =
                        glyphs[g][cy * 50 + (p % 2 == 0 ? 49 - cx : cx)];
        }
        cell++;
        if (c == '.' || c == '?') {
            column++;
            cell = 0;
        }
    }
    return picture;
}

static uint32_t le32(const std::string &data, size_t at) {
    return (uint32_t)(unsigned char)data[at] |
           (uint32_t)(unsigned char)data[at + 1] << 8 |
           (uint32_t)(unsigned char)data[at + 2] << 16 |
           (uint32_t)(unsigned char)data[at + 3] << 24;
}

static uint32_t le16(const std::string &data, size_t at) {
    return (uint32_t)(unsigned char)data[at] |
           (uint32_t)(unsigned char)data[at + 1] << 8;
}

bytes readbmp(const std::string &path, int *width, int *height,
              std::string *why) {
    std::string data = readfile(path);
    if (data.size() < 54) {
        *why = "shorter than a header";
        return bytes();
    }
    int w = (int)le32(data, 18);
    int h = (int)le32(data, 22);
    size_t rowbytes = (size_t)w * 3;
    size_t pad = (4 - rowbytes % 4) % 4;
    const struct {
        size_t at;
        int size;
        uint32_t want;
    } fields[] = {{0, 2, 0x4d42}, {2, 4, (uint32_t)(54 + (rowbytes + pad) * h)},
                  {6, 2, 0},      {8, 2, 0},
                  {10, 4, 54},    {14, 4, 40},
                  {26, 2, 1},     {28, 2, 24},
                  {30, 4, 0},     {34, 4, 0},
                  {38, 4, 0},     {42, 4, 0},
                  {46, 4, 0},     {50, 4, 0}};
    for (const auto &f : fields) {
        uint32_t got = f.size == 2 ? le16(data, f.at) : le32(data, f.at);
        if (got != f.want) {
            *why = "header field at " + std::to_string(f.at) + " is " +
                   std::to_string(got) + ", not " + std::to_string(f.want);
            return bytes();
        }
    }
    if (w <= 0 || h <= 0 || data.size() != 54 + (rowbytes + pad) * h) {
        *why = "file length " + std::to_string(data.size()) +
               " does not match " + std::to_string(w) + " by " +
               std::to_string(h);
        return bytes();
    }
    bytes grey((size_t)w * h);
    for (int row = 0; row < h; row++) {
        // Rows are stored bottom-up.
        size_t at = 54 + (rowbytes + pad) * (size_t)(h - 1 - row);
        for (int x = 0; x < w; x++) {
            unsigned char b = (unsigned char)data[at + 3 * x];
            if ((unsigned char)data[at + 3 * x + 1] != b ||
                (unsigned char)data[at + 3 * x + 2] != b) {
                *why = "pixel " + std::to_string(x) + "," +
                       std::to_string(row) + " is not grey";
                return bytes();
            }
            grey[(size_t)row * w + x] = b;
        }
    }
    *width = w;
    *height = h;
    return grey;
}
