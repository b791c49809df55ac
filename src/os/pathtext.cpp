// The text work of the POSIX store that needs no system call: which folder
// holds a path. Compiled, and tested, on every system. See os.h.
#include "os.h"

#include <cstring>

int osfolderof(const char *path, char *folder, size_t size) {
    const char *slash = strrchr(path, '/');
    // A bare name is in the current folder; a name at the root, in "/".
    size_t len = slash == NULL ? 0 : slash == path ? 1 : (size_t)(slash - path);
    if (len + 2 > size)
        return ENAMETOOLONG;
    if (slash == NULL)
        strcpy(folder, ".");
    else
        memcpy(folder, path, len);
    folder[slash == NULL ? 1 : len] = '\0';
    return 0;
}
