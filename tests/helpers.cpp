#include "helpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

std::string maketempdir() {
    const char *base = getenv("TMPDIR");
    std::string templ =
        std::string(base && *base ? base : "/tmp") + "/moltravytest.XXXXXX";
    if (mkdtemp(&templ[0]) == NULL)
        abort();
    return templ;
}

void removetree(const std::string &path) {
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0)
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
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

toolrun runtool(const std::string &dir, const std::string &input,
                const std::string &prelude, bool noinput) {
    std::string io = maketempdir();
    writefile(io + "/in", input);
    std::string cmd = "cd '" + dir + "' && " +
                      (prelude.empty() ? "" : prelude + " && ") + "exec " +
                      TOOLPATH + " <" + (noinput ? "/dev/null" : io + "/in") +
                      " >" + io + "/out 2>" + io + "/err";
    int raw = system(cmd.c_str());
    toolrun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readfile(io + "/out");
    run.err = readfile(io + "/err");
    removetree(io);
    return run;
}

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
