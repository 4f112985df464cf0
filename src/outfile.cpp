#include "outfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "error.h"

namespace qf {

namespace {

void cannot_write(const char* path, bool with_reason, int reason) {
    if (with_reason && reason != 0)
        set_error("cannot write %s: %s", path, std::strerror(reason));
    else
        set_error("cannot write %s", path);
}

// Writes everything, going on after partial writes and interruptions; false on failure.
bool write_all(int fd, bytes content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The old way, for devices and pipes, which cannot be renamed over: create or truncate, write.
int write_in_place(bytes content, const char* path, bool with_reason) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        cannot_write(path, with_reason, errno);
        return 0;
    }
    if (!write_all(fd, content)) {
        set_error("short write to %s", path);
        if (::close(fd) != 0) set_error("close error on %s", path);
        return 0;
    }
    if (::close(fd) != 0) {
        set_error("close error on %s", path);
        return 0;
    }
    return 1;
}

// The file a path names, symbolic links followed; the path itself when it names nothing yet.
std::string final_target(const char* path) {
    char resolved[PATH_MAX];
    if (::realpath(path, resolved)) return resolved;
    return path;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A new, empty file beside `target`, created with O_EXCL so that no other file is touched;
// the umask applies to its mode as to any new file. -1 with errno set on failure.
int create_temporary(const std::string& target, std::string& name) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = folder_of(target);
    const std::size_t slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/." + base + "." + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

int write_file_safely(bytes content, const char* path, bool with_reason) {
    const std::string target = final_target(path);
    struct stat existing;
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return write_in_place(content, path, with_reason);

    std::string temporary;
    const int fd = create_temporary(target, temporary);
    if (fd < 0) {
        // A folder that does not exist or cannot be written to: the reason is the folder's.
        cannot_write(path, with_reason, errno);
        return 0;
    }
    auto give_up = [&temporary](int open_fd) {
        if (open_fd >= 0) ::close(open_fd);
        ::unlink(temporary.c_str());
        return 0;
    };
    // An existing file keeps its permissions.
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0) {
        cannot_write(path, with_reason, errno);
        return give_up(fd);
    }
    if (!write_all(fd, content)) {
        set_error("short write to %s", path);
        return give_up(fd);
    }
    if (::fsync(fd) != 0) {
        set_error("close error on %s", path);
        return give_up(fd);
    }
    if (::close(fd) != 0) {
        set_error("close error on %s", path);
        return give_up(-1);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        cannot_write(path, with_reason, errno);
        return give_up(-1);
    }
    return 1;
}

} // namespace qf
