// Guards against: (fixture) a slow network mount that a test cannot have.
//
// A stand-in for a slow or hung network mount, preloaded (LD_PRELOAD) into a
// program: every open for reading of a path that a rule of QL_SLOW_OPEN
// names waits the rule's time before it opens (a test writes its files at
// once), as open() on a mount that answers slowly
// does (a signal does not cut the wait short, as it would not on a hard
// mount). QL_SLOW_OPEN is "text=ms,text=ms,...": a path holding `text`
// waits `ms` milliseconds, the first rule that matches deciding.
// QL_SLOW_OPEN_IN, when set, names the one program (by its short name) whose
// opens wait; its children (ffmpeg, the backend) open at once.
// QL_SLOW_OPEN_LOG, when set, names a file to which a line "<path>" is
// appended as each wait begins.
//
// The waits are counted: ql_slow_opens(text, thread) tells how many opens
// of paths holding `text` waited: all of them for a null `thread`, those
// made on the main thread for "main", else those made on threads so named.
// A test in the same process asks it through dlsym.
//
// A disk that stops answering while the test runs: ql_slow_hold(text, ms)
// (through dlsym) makes every later open for reading and every stat
// (stat, lstat, fstatat, statx) of a path holding `text` wait `ms`; a null
// `text` ends the hold. ql_slow_stats(text, thread) counts the stats that
// waited, as ql_slow_opens counts opens.
//
// Built without sanitizers: it is also loaded into children that have none.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern "C" {

enum { kMostWaits = 4096, kPathBytes = 512 };

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
struct Wait {
    char path[kPathBytes];
    char thread[16];
    int onMain;
    int isStat;
};
static Wait waits[kMostWaits];
static int waitCount = 0;
// The hold ql_slow_hold set; guarded by `lock`.
static char heldText[kPathBytes];
static long heldMs = 0;

void ql_slow_hold(const char* text, long ms) {
    pthread_mutex_lock(&lock);
    heldMs = text && *text ? ms : 0;
    snprintf(heldText, sizeof heldText, "%s", text ? text : "");
    pthread_mutex_unlock(&lock);
}

/* The wait the hold asks of `path`; 0 for none. */
static long heldFor(const char* path) {
    pthread_mutex_lock(&lock);
    const long ms = path && heldMs > 0 && strstr(path, heldText) ? heldMs : 0;
    pthread_mutex_unlock(&lock);
    return ms;
}

/* The wait for `path` in milliseconds; 0 for none. */
static long ruleFor(const char* path) {
    const char* rules = getenv("QL_SLOW_OPEN");
    const char* only = getenv("QL_SLOW_OPEN_IN");
    if (!path || !rules || (only && *only && strcmp(only, program_invocation_short_name) != 0))
        return 0;
    for (const char* rule = rules; *rule;) {
        const char* end = strchr(rule, ',');
        const size_t length = end ? (size_t)(end - rule) : strlen(rule);
        const char* equals = static_cast<const char*>(memchr(rule, '=', length));
        if (equals && equals > rule) {
            char text[kPathBytes];
            const size_t textLength = (size_t)(equals - rule);
            if (textLength < sizeof text) {
                memcpy(text, rule, textLength);
                text[textLength] = '\0';
                if (strstr(path, text))
                    return atol(equals + 1);
            }
        }
        if (!end)
            break;
        rule = end + 1;
    }
    return 0;
}

static void waitAs(const char* path, long ms, int isStat) {
    if (ms <= 0)
        return;
    const int saved = errno;
    pthread_mutex_lock(&lock);
    if (waitCount < kMostWaits) {
        snprintf(waits[waitCount].path, kPathBytes, "%s", path);
        waits[waitCount].onMain = pid_t(syscall(SYS_gettid)) == getpid();
        waits[waitCount].isStat = isStat;
        if (pthread_getname_np(pthread_self(), waits[waitCount].thread,
                               sizeof waits[waitCount].thread) != 0)
            waits[waitCount].thread[0] = '\0';
        ++waitCount;
    }
    const char* log = getenv("QL_SLOW_OPEN_LOG");
    if (log && *log) {
        typedef int (*OpenFn)(const char*, int, ...);
        const OpenFn realOpen = (OpenFn)dlsym(RTLD_NEXT, "open");
        const int fd = realOpen(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            char line[kPathBytes + 2];
            const int n = snprintf(line, sizeof line, "%s\n", path);
            if (n > 0 && write(fd, line, (size_t)n) < 0) {
                // nothing to be done: the test finds no line
            }
            close(fd);
        }
    }
    pthread_mutex_unlock(&lock);
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    errno = saved;
}

static void waitFor(const char* path, int flags) {
    if ((flags & O_ACCMODE) != O_RDONLY)
        return;
    const long rule = ruleFor(path);
    waitAs(path, rule > 0 ? rule : heldFor(path), 0);
}

static void statWait(const char* path) {
    const char* only = getenv("QL_SLOW_OPEN_IN");
    if (only && *only && strcmp(only, program_invocation_short_name) != 0)
        return;
    waitAs(path, heldFor(path), 1);
}

static int countWaits(const char* text, const char* thread, int isStat) {
    int n = 0;
    pthread_mutex_lock(&lock);
    for (int i = 0; i < waitCount; ++i)
        if (waits[i].isStat == isStat && strstr(waits[i].path, text) &&
            (!thread || (strcmp(thread, "main") == 0 ? waits[i].onMain != 0
                                                     : strcmp(thread, waits[i].thread) == 0)))
            ++n;
    pthread_mutex_unlock(&lock);
    return n;
}

int ql_slow_opens(const char* text, const char* thread) {
    return countWaits(text, thread, 0);
}

int ql_slow_stats(const char* text, const char* thread) {
    return countWaits(text, thread, 1);
}

static int takesMode(int flags) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

typedef int (*OpenFn)(const char*, int, ...);
typedef int (*OpenAtFn)(int, const char*, int, ...);
typedef int (*Open2Fn)(const char*, int);
typedef int (*OpenAt2Fn)(int, const char*, int);
typedef FILE* (*FopenFn)(const char*, const char*);

#define OPEN_LIKE(name)                                                                            \
    int name(const char* path, int flags, ...) {                                                   \
        mode_t mode = 0;                                                                           \
        if (takesMode(flags)) {                                                                    \
            va_list args;                                                                          \
            va_start(args, flags);                                                                 \
            mode = va_arg(args, mode_t);                                                           \
            va_end(args);                                                                          \
        }                                                                                          \
        waitFor(path, flags);                                                                      \
        return REAL(#name, OpenFn)(path, flags, mode);                                             \
    }

#define OPENAT_LIKE(name)                                                                          \
    int name(int dir, const char* path, int flags, ...) {                                          \
        mode_t mode = 0;                                                                           \
        if (takesMode(flags)) {                                                                    \
            va_list args;                                                                          \
            va_start(args, flags);                                                                 \
            mode = va_arg(args, mode_t);                                                           \
            va_end(args);                                                                          \
        }                                                                                          \
        waitFor(path, flags);                                                                      \
        return REAL(#name, OpenAtFn)(dir, path, flags, mode);                                      \
    }

OPEN_LIKE(open)
OPEN_LIKE(open64)
OPENAT_LIKE(openat)
OPENAT_LIKE(openat64)

int __open_2(const char* path, int flags) {
    waitFor(path, flags);
    return REAL("__open_2", Open2Fn)(path, flags);
}
int __open64_2(const char* path, int flags) {
    waitFor(path, flags);
    return REAL("__open64_2", Open2Fn)(path, flags);
}
int __openat_2(int dir, const char* path, int flags) {
    waitFor(path, flags);
    return REAL("__openat_2", OpenAt2Fn)(dir, path, flags);
}
int __openat64_2(int dir, const char* path, int flags) {
    waitFor(path, flags);
    return REAL("__openat64_2", OpenAt2Fn)(dir, path, flags);
}
static int flagsOf(const char* mode) {
    return mode && mode[0] == 'r' && !strchr(mode, '+') ? O_RDONLY : O_RDWR;
}

FILE* fopen(const char* path, const char* mode) {
    waitFor(path, flagsOf(mode));
    return REAL("fopen", FopenFn)(path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
    waitFor(path, flagsOf(mode));
    return REAL("fopen64", FopenFn)(path, mode);
}

typedef int (*StatFn)(const char*, struct stat*);
typedef int (*Stat64Fn)(const char*, struct stat64*);
typedef int (*FstatatFn)(int, const char*, struct stat*, int);
typedef int (*Fstatat64Fn)(int, const char*, struct stat64*, int);
typedef int (*StatxFn)(int, const char*, int, unsigned int, struct statx*);

int stat(const char* path, struct stat* st) {
    statWait(path);
    return REAL("stat", StatFn)(path, st);
}
int stat64(const char* path, struct stat64* st) {
    statWait(path);
    return REAL("stat64", Stat64Fn)(path, st);
}
int lstat(const char* path, struct stat* st) {
    statWait(path);
    return REAL("lstat", StatFn)(path, st);
}
int lstat64(const char* path, struct stat64* st) {
    statWait(path);
    return REAL("lstat64", Stat64Fn)(path, st);
}
int fstatat(int dir, const char* path, struct stat* st, int flags) {
    statWait(path);
    return REAL("fstatat", FstatatFn)(dir, path, st, flags);
}
int fstatat64(int dir, const char* path, struct stat64* st, int flags) {
    statWait(path);
    return REAL("fstatat64", Fstatat64Fn)(dir, path, st, flags);
}
int statx(int dir, const char* path, int flags, unsigned int mask, struct statx* st) {
    statWait(path);
    return REAL("statx", StatxFn)(dir, path, flags, mask, st);
}

} // extern "C"
