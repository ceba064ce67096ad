#include "viewer/renderhelper/Confinement.h"

#include <QByteArray>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr rlim_t addressSpaceLimit = 1ull << 30;

// Access rights newer than the kernel headers this is built against.
constexpr quint64 accessFsRefer = 1ull << 13;     // ABI 2
constexpr quint64 accessFsTruncate = 1ull << 14;  // ABI 3
constexpr quint64 accessFsIoctlDev = 1ull << 15;  // ABI 5
constexpr quint64 accessNetBindTcp = 1ull << 0;   // ABI 4
constexpr quint64 accessNetConnectTcp = 1ull << 1;
constexpr quint64 scopeAbstractUnixSocket = 1ull << 0; // ABI 6
constexpr quint64 scopeSignal = 1ull << 1;

// The rule set attribute as the newest kernels read it; older ones are
// handed only the part they know.
struct RulesetAttr
{
    quint64 handledAccessFs;
    quint64 handledAccessNet;
    quint64 scoped;
};

QString errnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(strerror(errno)));
}

// Where the engine finds fonts, and fontconfig's configuration and caches.
QList<QByteArray> fontFolders()
{
    QList<QByteArray> folders{"/usr/share/fonts", "/usr/local/share/fonts", "/usr/share/X11/fonts",
                              "/etc/fonts", "/var/cache/fontconfig"};
    const QByteArray cacheHome = qgetenv("XDG_CACHE_HOME");
    const QByteArray home = qgetenv("HOME");
    if (!cacheHome.isEmpty())
        folders << cacheHome + "/fontconfig";
    else if (!home.isEmpty())
        folders << home + "/.cache/fontconfig";
    return folders;
}

bool applyLandlock(ConfinementResult &r)
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) {
        r.missing += QStringLiteral("Landlock unavailable (%1); ").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    r.landlockAbi = int(abi);
    quint64 fs = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE
                 | LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE
                 | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG
                 | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK
                 | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2)
        fs |= accessFsRefer;
    if (abi >= 3)
        fs |= accessFsTruncate;
    if (abi >= 5)
        fs |= accessFsIoctlDev;
    RulesetAttr attr{fs, abi >= 4 ? accessNetBindTcp | accessNetConnectTcp : 0,
                     abi >= 6 ? scopeAbstractUnixSocket | scopeSignal : 0};
    const size_t attrSize = abi >= 6 ? sizeof(RulesetAttr) : abi >= 4 ? 2 * sizeof(quint64) : sizeof(quint64);
    const int ruleset = int(syscall(SYS_landlock_create_ruleset, &attr, attrSize, 0));
    if (ruleset < 0) {
        r.missing += errnoText("landlock_create_ruleset") + QStringLiteral("; ");
        return false;
    }
    for (const QByteArray &folder : fontFolders()) {
        const int fd = ::open(folder.constData(), O_PATH | O_CLOEXEC | O_DIRECTORY);
        if (fd < 0)
            continue; // not on this system
        landlock_path_beneath_attr rule{};
        rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
        rule.parent_fd = fd;
        syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
        ::close(fd);
    }
    const bool ok = syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    if (!ok)
        r.missing += errnoText("landlock_restrict_self") + QStringLiteral("; ");
    ::close(ruleset);
    return ok;
}

// An allow-list: what reading a document over an open descriptor and drawing
// it takes.  Everything else fails with EPERM, so a call that is new to the
// kernel or was simply not foreseen is refused rather than let through, and
// fails softly instead of killing a helper in the middle of a page.  The
// calls that matter most (execve, socket, connect, ptrace, process_vm_*,
// mount and namespace calls, bpf, io_uring, kill of other processes) are not
// on the list.
bool applySeccomp(ConfinementResult &r)
{
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!ctx) {
        r.missing += QStringLiteral("seccomp unavailable; ");
        return false;
    }
    const int allowed[] = {
        // descriptors already open: the socket, documents, shared pages, fonts
        SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(write), SCMP_SYS(writev),
        SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(stat), SCMP_SYS(lstat),
        SCMP_SYS(statx), SCMP_SYS(fstatfs), SCMP_SYS(statfs), SCMP_SYS(fcntl), SCMP_SYS(dup), SCMP_SYS(dup3),
        SCMP_SYS(fadvise64), SCMP_SYS(sendmsg), SCMP_SYS(recvmsg), SCMP_SYS(sendto), SCMP_SYS(recvfrom),
        SCMP_SYS(poll), SCMP_SYS(ppoll),
        // fonts (Landlock decides which files)
        SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(getdents64), SCMP_SYS(readlink), SCMP_SYS(readlinkat),
        SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2),
        // memory
        SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mprotect), SCMP_SYS(mremap), SCMP_SYS(madvise), SCMP_SYS(brk),
        // threads the image library may start, time, signals to itself
        SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(set_tid_address),
        SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity), SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres),
        SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(gettimeofday), SCMP_SYS(getpid),
        SCMP_SYS(gettid), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid), SCMP_SYS(getegid),
        SCMP_SYS(uname), SCMP_SYS(getrandom), SCMP_SYS(getrlimit), SCMP_SYS(rt_sigaction),
        SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack), SCMP_SYS(tgkill),
        SCMP_SYS(exit), SCMP_SYS(exit_group),
    };
    bool ok = true;
    for (int call : allowed)
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0) == 0;
    // Threads only: a clone without CLONE_THREAD would be a new process.
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                                SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0;
    // clone3 passes its flags in memory the filter cannot see; the C library
    // falls back to clone when told the call does not exist.
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
    // Reading limits, never raising them.
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2, SCMP_A0(SCMP_CMP_EQ, 0),
                                SCMP_A2(SCMP_CMP_EQ, 0)) == 0;
    for (scmp_datum_t option : {PR_SET_NAME, PR_GET_NAME, PR_GET_NO_NEW_PRIVS, PR_GET_DUMPABLE})
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, option)) == 0;
    if (ok)
        ok = seccomp_load(ctx) == 0;
    if (!ok)
        r.missing += QStringLiteral("seccomp filter not loaded; ");
    seccomp_release(ctx);
    return ok;
}

} // namespace

ConfinementResult confineRenderHelper(size_t pageMemory)
{
    ConfinementResult r;
    const rlimit as{addressSpaceLimit + pageMemory, addressSpaceLimit + pageMemory};
    const rlimit core{0, 0};
    if (setrlimit(RLIMIT_AS, &as) != 0)
        r.missing += errnoText("RLIMIT_AS") + QStringLiteral("; ");
    if (setrlimit(RLIMIT_CORE, &core) != 0)
        r.missing += errnoText("RLIMIT_CORE") + QStringLiteral("; ");
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        // Both confinements need it.
        r.missing += errnoText("PR_SET_NO_NEW_PRIVS");
        return r;
    }
    r.landlock = applyLandlock(r);
    r.seccomp = applySeccomp(r);
    if (r.missing.endsWith(QStringLiteral("; ")))
        r.missing.chop(2);
    return r;
}
