// A power cut at every write of a process: preloaded into it (LD_PRELOAD=libq7powercut.so), it
// records in order every write, flush, rename, link, removal and creation in the watched
// directories, and after each one writes down what a cut at that instant may leave on the disk:
//
//   each file as of its last fsync/fdatasync (one never synced: nothing in the "undone" state,
//   half of it in the "done" one);
//   creations, renames and removals not followed yet by an fsync of their directory: undone in
//   the "undone" state, done in the "done" one.
//
//   Q7_CUT_ROOT  the watched directory: its files named arquivo_tef* and pendente*, and all of
//                ROOT/req and ROOT/resp (the service's state, path_in and path_out)
//   Q7_CUT_OUT   cut N goes to OUT/N/{undone,done}/<path under ROOT>, with OUT/N/calls.jsonl: the
//                replacement library's books as they stood (a bank's, which no cut reaches)
//   OUT/points   one line a cut, "S N <operation>", appended; others may append lines of their own
//
// Without Q7_CUT_ROOT every call goes straight through. POSIX and the C++ library, no Qt.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace {

template <typename F> F real(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
// Looked up at the first call: other libraries' initialisers may open files before ours ran.
int realOpen(const char *path, int flags, mode_t mode = 0) {
    static const auto call = real<int (*)(const char *, int, ...)>("open64");
    return call(path, flags, mode);
}
ssize_t realWrite(int fd, const void *data, size_t size) {
    static const auto call = real<ssize_t (*)(int, const void *, size_t)>("write");
    return call(fd, data, size);
}
int realClose(int fd) {
    static const auto call = real<int (*)(int)>("close");
    return call(fd);
}

// A file's inode and its birth: another process may free an inode unseen (the client removing a
// status file), and the file system hand it at once to a new file (the client's next request).
using Inode = std::tuple<dev_t, ino_t, long long, unsigned>;

// The mode of the file at `path` (0 when there is none), and its identity in `inode`.
mode_t identify(int dirFd, const char *path, int flags, Inode *inode) {
    struct statx sx;
    if (statx(dirFd, path, flags | AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO | STATX_BTIME, &sx) != 0)
        return 0;
    const bool born = sx.stx_mask & STATX_BTIME;
    *inode = {makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino, born ? sx.stx_btime.tv_sec : 0,
              born ? sx.stx_btime.tv_nsec : 0};
    return sx.stx_mode;
}

using Tree = std::map<std::string, std::string>; // name -> content, in one directory

// How to take back a directory operation not on the disk yet.
struct Undo {
    std::string name;    // what it made, or where it went
    std::string from;    // a rename's old name, else empty
    bool hadOld = false; // whether `name` held a file before
    std::string old;     // what that file held
};

struct Recorder {
    std::mutex mutex;
    bool enabled = false;
    std::string root, out;
    std::vector<std::string> dirs;
    std::map<Inode, std::pair<bool, std::string>> dirty; // changed since a sync: (synced once, content then)
    std::map<int, Inode> files;                          // watched descriptors
    std::map<int, std::string> directories;
    std::map<std::string, std::vector<Undo>> pending; // by directory
    int cuts = 0;

    Recorder() {
        const char *r = getenv("Q7_CUT_ROOT");
        const char *o = getenv("Q7_CUT_OUT");
        char resolved[PATH_MAX];
        if (!r || !o || !realpath(r, resolved))
            return;
        root = resolved;
        out = o;
        dirs = {root, root + "/req", root + "/resp"};
        enabled = true;
    }
};

Recorder &recorder() {
    static Recorder made;
    return made;
}

thread_local bool inside = false;

std::string readAll(const std::string &path) {
    std::string data;
    const int fd = realOpen(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[65536];
    for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, size_t(got));
    if (fd >= 0)
        realClose(fd);
    return data;
}

void writeAll(const std::string &path, const std::string &data, int flags = O_TRUNC) {
    const int fd = realOpen(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd >= 0 && realWrite(fd, data.data(), data.size()) >= 0)
        realClose(fd);
}

std::string absolute(const char *path) {
    char cwd[PATH_MAX];
    return path[0] == '/' || !getcwd(cwd, sizeof cwd) ? path : std::string(cwd) + "/" + path;
}

bool watchedName(const std::string &dir, const std::string &name) {
    return dir != recorder().root || name.rfind("arquivo_tef", 0) == 0 || name.rfind("pendente", 0) == 0;
}

// The watched directory that holds `path` (or is it, with `itself`) and the name there; "" if none.
std::pair<std::string, std::string> placeOf(const std::string &path, bool itself = false) {
    const size_t slash = path.rfind('/');
    const std::string name = itself ? std::string() : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (!realpath((itself ? path : path.substr(0, slash)).c_str(), resolved))
        return {};
    for (const std::string &dir : recorder().dirs)
        if (dir == resolved && (itself || watchedName(dir, name)))
            return {dir, name};
    return {};
}

// What a cut now leaves of `path`: its synced content, or a prefix.
std::string durable(const std::string &path, bool half) {
    Inode inode;
    if (!S_ISREG(identify(AT_FDCWD, path.c_str(), 0, &inode)))
        return std::string();
    const std::string now = readAll(path);
    const auto it = recorder().dirty.find(inode);
    if (it == recorder().dirty.end())
        return now;
    return it->second.first ? it->second.second : now.substr(0, half ? now.size() / 2 : 0);
}

void mkpath(const std::string &path) {
    for (size_t at = 1; (at = path.find('/', at)) != std::string::npos; ++at)
        mkdir(path.substr(0, at).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

void cut(const std::string &what) {
    const std::string base = recorder().out + "/" + std::to_string(++recorder().cuts);
    for (const bool done : {false, true}) {
        for (const std::string &dir : recorder().dirs) {
            Tree tree;
            if (DIR *d = opendir(dir.c_str())) {
                while (const dirent *e = readdir(d))
                    if (e->d_type == DT_REG && watchedName(dir, e->d_name))
                        tree[e->d_name] = durable(dir + "/" + e->d_name, done);
                closedir(d);
            }
            const std::vector<Undo> &undo = recorder().pending[dir];
            for (auto it = undo.rbegin(); !done && it != undo.rend(); ++it) {
                if (!it->from.empty() && tree.count(it->name))
                    tree[it->from] = tree[it->name];
                if (it->hadOld)
                    tree[it->name] = it->old;
                else
                    tree.erase(it->name);
            }
            const std::string target =
                base + (done ? "/done" : "/undone") + dir.substr(recorder().root.size());
            mkpath(target);
            for (const auto &[name, content] : tree)
                writeAll(target + "/" + name, content);
        }
    }
    std::string books = readAll(recorder().root + "/calls.jsonl");
    books.resize(books.rfind('\n') == std::string::npos ? 0 : books.rfind('\n') + 1); // whole lines
    writeAll(base + "/calls.jsonl", books);
    writeAll(recorder().out + "/points", "S " + std::to_string(recorder().cuts) + " " + what + "\n",
             O_APPEND);
}

// Held while a call is recorded; calls made meanwhile by the recorder itself go straight through.
struct Guard {
    std::unique_lock<std::mutex> lock;
    const bool active = !inside && recorder().enabled;
    Guard() {
        if (active) {
            lock = std::unique_lock<std::mutex>(recorder().mutex);
            inside = true;
        }
    }
    ~Guard() {
        if (active)
            inside = false;
    }
};

int opened(const char *path, int flags, mode_t mode) {
    Guard guard;
    if (!guard.active)
        return realOpen(path, flags, mode);
    const std::string full = absolute(path);
    const bool temporary = (flags & O_TMPFILE) == O_TMPFILE;
    const auto [dir, name] = placeOf(full, temporary);
    struct stat before;
    const bool existed = !temporary && lstat(full.c_str(), &before) == 0;
    const bool truncates = !dir.empty() && existed && (flags & O_TRUNC) && S_ISREG(before.st_mode);
    const std::string old = truncates ? durable(full, false) : std::string();
    const int fd = realOpen(path, flags, mode);
    Inode inode;
    const mode_t type = fd < 0 ? 0 : identify(fd, "", AT_EMPTY_PATH, &inode);
    if (S_ISDIR(type) && !temporary) {
        if (const std::string itself = placeOf(full, true).first; !itself.empty())
            recorder().directories[fd] = itself;
        return fd;
    }
    if (dir.empty() || !S_ISREG(type))
        return fd;
    recorder().files[fd] = inode;
    if (temporary || !existed) {
        recorder().dirty[inode] = {false, std::string()};
        if (!temporary) {
            recorder().pending[dir].push_back({name, std::string(), false, std::string()});
            cut("create " + full);
        }
    } else if (truncates) {
        recorder().dirty.emplace(inode, std::make_pair(true, old));
        cut("truncate " + full);
    }
    return fd;
}

// A rename (`from` not empty) or a link or removal of `to`, done by `call`.
template <typename Call> int moved(const char *from, const char *to, bool removes, Call call) {
    Guard guard;
    if (!guard.active)
        return call();
    const std::string target = absolute(to);
    const auto [dir, name] = placeOf(target);
    const std::string source = from ? placeOf(absolute(from)).second : std::string();
    struct stat st;
    const bool hadOld = !dir.empty() && lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const std::string old = hadOld ? durable(target, false) : std::string();
    const int result = call();
    if (result == 0 && !dir.empty() && (hadOld || !removes)) {
        recorder().pending[dir].push_back({name, source, hadOld, old});
        cut((removes ? "unlink " : from ? "rename to " : "link ") + target);
    }
    return result;
}

int synced(int fd, int (*call)(int)) {
    Guard guard;
    const int result = call(fd);
    if (!guard.active || result != 0)
        return result;
    if (const auto file = recorder().files.find(fd); file != recorder().files.end()) {
        recorder().dirty.erase(file->second);
        cut("fsync file");
    } else if (const auto dir = recorder().directories.find(fd); dir != recorder().directories.end()) {
        recorder().pending.erase(dir->second);
        cut("fsync " + dir->second);
    }
    return result;
}

mode_t modeOf(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

} // namespace

extern "C" {

int open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    return opened(path, flags, mode);
}
int open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    return opened(path, flags, mode);
}

ssize_t write(int fd, const void *data, size_t size) {
    Guard guard;
    const auto file = guard.active ? recorder().files.find(fd) : recorder().files.end();
    // Before its first change since a sync, what it holds is what is on the disk.
    if (file != recorder().files.end() && !recorder().dirty.count(file->second))
        recorder().dirty[file->second] = {true, readAll("/proc/self/fd/" + std::to_string(fd))};
    const ssize_t n = realWrite(fd, data, size);
    if (file != recorder().files.end() && n > 0)
        cut("write " + std::to_string(n));
    return n;
}
int fsync(int fd) {
    return synced(fd, real<int (*)(int)>("fsync"));
}
int fdatasync(int fd) {
    return synced(fd, real<int (*)(int)>("fdatasync"));
}
int close(int fd) {
    {
        Guard guard;
        if (guard.active) {
            recorder().files.erase(fd);
            recorder().directories.erase(fd);
        }
    }
    return realClose(fd);
}

int rename(const char *from, const char *to) {
    return moved(from, to, false,
                 [&] { return real<int (*)(const char *, const char *)>("rename")(from, to); });
}
int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags) {
    using Call = int (*)(int, const char *, int, const char *, unsigned);
    return moved(from, to, false, [&] { return real<Call>("renameat2")(fromDir, from, toDir, to, flags); });
}
int linkat(int fromDir, const char *from, int toDir, const char *to, int flags) {
    using Call = int (*)(int, const char *, int, const char *, int);
    return moved(nullptr, to, false, [&] { return real<Call>("linkat")(fromDir, from, toDir, to, flags); });
}
int unlink(const char *path) {
    return moved(nullptr, path, true, [&] { return real<int (*)(const char *)>("unlink")(path); });
}

} // extern "C"
