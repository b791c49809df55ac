// failcalls: runs a program with chosen system calls failing, each with a
// chosen errno value, so that the tests can reach every failure path of the
// store as a user's machine would: a disk that fails a sync, a filesystem
// without unnamed temporary files. A seccomp filter does it at the system
// call, so it holds under any runtime the program is built with.
//
// Usage: failcalls CALL:ERRNO[,CALL:ERRNO...] PROGRAM [ARGUMENT...]
//
//   failcalls tmpfile:EOPNOTSUPP ./moltravytext      as on a filesystem
//                                                    without unnamed files
//   failcalls fdatasync:EIO ./moltravytext           a disk that fails
//
// CALL is a system call (fdatasync, fsync, fchmod, linkat, rename, which
// covers renameat and renameat2 too, or close, of descriptor 4 or above),
// or one kind of call: tmpfile
// (an open with O_TMPFILE), exclusive (an open with O_CREAT and O_EXCL, as
// mkstemp makes), procfd (a linkat that follows a link, as naming a file
// through /proc/self/fd does). ERRNO is a name: EIO, ENOSPC, EOPNOTSUPP,
// ENOENT, EACCES, EPERM or EROFS.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

// One system call made to fail, when the argument argindex, masked, equals
// value, or with atleast is value or more (always, when mask is 0).
struct failure {
    const char *call;
    int nr;
    int argindex;
    unsigned mask;
    unsigned value;
    int atleast;
};

// Every Linux architecture has openat, linkat and renameat2; the older
// calls are judged where the architecture has them (x86-64, 32-bit arm),
// since a C library may use them there (musl opens with open on x86-64).
static const failure failures[] = {
    {"tmpfile", SYS_openat, 2, O_TMPFILE, O_TMPFILE, 0},
#ifdef SYS_open
    {"tmpfile", SYS_open, 1, O_TMPFILE, O_TMPFILE, 0},
#endif
    {"exclusive", SYS_openat, 2, O_CREAT | O_EXCL, O_CREAT | O_EXCL, 0},
#ifdef SYS_open
    {"exclusive", SYS_open, 1, O_CREAT | O_EXCL, O_CREAT | O_EXCL, 0},
#endif
    {"procfd", SYS_linkat, 4, AT_SYMLINK_FOLLOW, AT_SYMLINK_FOLLOW, 0},
    {"fdatasync", SYS_fdatasync, 0, 0, 0, 0},
    {"fsync", SYS_fsync, 0, 0, 0, 0},
    // Descriptors 0 to 2 are the standard streams and 3 the first file any
    // run opens: the libraries as they load (whose loader fails at a failed
    // close), then the glyph files and the picture's folder. The picture
    // being written is 4.
    {"close", SYS_close, 0, 0xffffffffu, 4, 1},
    {"fchmod", SYS_fchmod, 0, 0, 0, 0},
    {"linkat", SYS_linkat, 0, 0, 0, 0},
#ifdef SYS_rename
    {"rename", SYS_rename, 0, 0, 0, 0},
#endif
#ifdef SYS_renameat
    {"rename", SYS_renameat, 0, 0, 0, 0},
#endif
    {"rename", SYS_renameat2, 0, 0, 0, 0},
};

// The architecture whose calls the filter judges: the one this program is
// built for, and so the one it runs.
#if defined(__x86_64__)
static const unsigned auditarch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
static const unsigned auditarch = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
static const unsigned auditarch = AUDIT_ARCH_ARM;
#elif defined(__i386__)
static const unsigned auditarch = AUDIT_ARCH_I386;
#else
#error "failcalls: no audit architecture for this machine"
#endif

static const struct {
    const char *name;
    int value;
} errnos[] = {
    {"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EOPNOTSUPP", EOPNOTSUPP},
    {"ENOENT", ENOENT}, {"EACCES", EACCES}, {"EPERM", EPERM},
    {"EROFS", EROFS}};

int main(int argc, char **argv) {
    if (argc < 3) {
        printf("usage: failcalls CALL:ERRNO[,CALL:ERRNO...] PROGRAM "
               "[ARGUMENT...]\n");
        return 2;
    }
    // Only calls of this build's architecture are judged; the filter then
    // takes the rules one by one: load the call's number, and, where the
    // rule looks at an argument, the argument; on a match, fail.
    struct sock_filter filter[256];
    int n = 0;
    filter[n++] =
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    filter[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, auditarch, 1, 0);
    filter[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    char rules[1024];
    snprintf(rules, sizeof rules, "%s", argv[1]);
    for (char *rule = strtok(rules, ","); rule != NULL;
         rule = strtok(NULL, ",")) {
        char *colon = strchr(rule, ':');
        int errnum = 0;
        for (const auto &e : errnos)
            if (colon != NULL && strcmp(colon + 1, e.name) == 0)
                errnum = e.value;
        int matched = 0;
        for (const failure &f : failures) {
            if (colon == NULL || errnum == 0 ||
                strncmp(rule, f.call, (size_t)(colon - rule)) != 0 ||
                f.call[colon - rule] != '\0' || n > 240)
                continue;
            matched = 1;
            filter[n++] =
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
            unsigned char skip = f.mask ? 4 : 1;
            filter[n++] =
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (unsigned)f.nr, 0, skip);
            if (f.mask) {
                // The argument's low 32 bits: every machine here is
                // little-endian.
                unsigned at = (unsigned)(offsetof(seccomp_data, args) +
                                         8 * (size_t)f.argindex);
                filter[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, at);
                filter[n++] = BPF_STMT(BPF_ALU | BPF_AND | BPF_K, f.mask);
                filter[n++] =
                    BPF_JUMP(BPF_JMP | (f.atleast ? BPF_JGE : BPF_JEQ) | BPF_K,
                             f.value, 0, 1);
            }
            filter[n++] =
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (unsigned)errnum);
        }
        if (!matched) {
            printf("failcalls: no such rule: %s\n", rule);
            return 2;
        }
    }
    filter[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    // The program starts with its standard streams only, as from a terminal,
    // whatever the test runner left open, so that its descriptors are
    // numbered as above.
    for (int fd = 3; fd < 1024; fd++)
        close(fd);
    struct sock_fprog program = {(unsigned short)n, filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        perror("failcalls: seccomp");
        return 2;
    }
    execv(argv[2], argv + 2);
    perror("failcalls: exec");
    return 2;
}
