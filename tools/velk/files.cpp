#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace velktool {

namespace {

// Appends what fd holds from where it stands to its end, sized up front from
// fstat for a regular file so that a large file is read without regrowth.
bool ReadFd(int fd, std::string* bytes) {
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
        bytes->reserve(static_cast<size_t>(info.st_size) + 1);
    char buffer[65536];
    for (;;) {
        const size_t room = bytes->capacity() - bytes->size();
        const bool direct = room >= sizeof buffer;
        if (direct) bytes->resize(bytes->capacity());
        char* into = direct ? &(*bytes)[bytes->size() - room] : buffer;
        const ssize_t got = read(fd, into, direct ? room : sizeof buffer);
        if (direct) bytes->resize(bytes->size() - room + (got > 0 ? static_cast<size_t>(got) : 0));
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!direct) bytes->append(buffer, static_cast<size_t>(got));
    }
}

std::string FolderOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file that the rewrite replaces: path itself, or where its symbolic
// links lead when they are followed.
std::string TargetOf(const std::string& path, Replace how) {
    if (how == Replace::kInPlace) return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

// Gives the new file fd what the replaced file had: its owner and group where
// the system lets us (root always can; others can keep their own group), then
// its mode, set last because a change of owner may clear the set-id bits.
// A new file gets the mode that the umask leaves of 0666.
bool TakeOver(int fd, const struct stat* old) {
    if (!old) {
        const mode_t mask = umask(0);
        umask(mask);
        return fchmod(fd, 0666 & ~mask) == 0;
    }
    if (fchown(fd, old->st_uid, old->st_gid) != 0) {
        // Not allowed to give the file away: keep at least the group.
        if (fchown(fd, static_cast<uid_t>(-1), old->st_gid) != 0) errno = 0;
    }
    return fchmod(fd, old->st_mode & 07777) == 0;
}

}  // namespace

bool ReadWhole(const std::string& path, std::string* bytes, int* error) {
    if (path == "-") {
        if (ReadFd(STDIN_FILENO, bytes)) return true;
        *error = errno;
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    bool read = fd >= 0 && ReadFd(fd, bytes);
    *error = errno;
    if (fd >= 0) close(fd);
    return read;
}

Replacement::~Replacement() {
    if (!file) return;
    std::fclose(file);
    unlink(temporary.c_str());
}

bool Replacement::Begin(const std::string& path, Replace how, int* error) {
    target = TargetOf(path, how);
    temporary = FolderOf(target) + "/.velk-XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd >= 0) file = fdopen(fd, "w");
    if (file) return true;
    *error = errno;
    if (fd >= 0) {
        close(fd);
        unlink(temporary.c_str());
    }
    return false;
}

bool Replacement::Commit(int* error) {
    // The new file takes over the attributes of the file that was read, which
    // is where a symbolic link leads even when the link itself is replaced.
    struct stat old;
    const bool keeps = stat(target.c_str(), &old) == 0;
    const int fd = fileno(file);
    bool done = std::fflush(file) == 0 && !std::ferror(file) &&
                TakeOver(fd, keeps ? &old : nullptr) && fsync(fd) == 0;
    *error = errno;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (done && !closed) {
        done = false;
        *error = errno;
    }
    if (done && std::rename(temporary.c_str(), target.c_str()) != 0) {
        done = false;
        *error = errno;
    }
    if (!done) unlink(temporary.c_str());
    return done;
}

}  // namespace velktool
