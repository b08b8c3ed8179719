#include "io/output_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The kernel's own limit on links followed while resolving one name.
const int max_links = 40;

std::string folder_text(const fs::path& file)
{
    fs::path folder = file.parent_path();
    return folder.empty() ? "." : folder.string();
}

bool caller_in_group(gid_t group)
{
    if (group == getegid())
        return true;
    int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    count = getgroups(count, groups.data());
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<size_t>(i)] == group)
            return true;
    return false;
}

// umask can only be read by setting it; output_prepare runs before the tools
// start threads, so the moment with a zero mask harms no one.
mode_t current_umask()
{
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// The stream handed to writers: stdio buffering over a descriptor, keeping
// the first write() error so that the message says why (EFBIG, ENOSPC, EPIPE)
// whatever the writer made of its failed fwrite.
struct Sink {
    int fd;
    int error;
};

ssize_t sink_write(void* cookie, const char* data, size_t size)
{
    Sink* sink = static_cast<Sink*>(cookie);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(sink->fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (sink->error == 0)
                sink->error = n < 0 ? errno : EIO;
            break;  // a short count marks the stream as failed
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int sink_seek(void* cookie, off64_t* position, int whence)
{
    off_t at = lseek(static_cast<Sink*>(cookie)->fd, static_cast<off_t>(*position), whence);
    if (at < 0)
        return -1;
    *position = at;
    return 0;
}

// The descriptor is the caller's to sync and close.
int sink_close(void*)
{
    return 0;
}

struct Written {
    bool writer_ok;
    int io_error;  // the first failed write, or 0
};

Written write_through(int fd, const OutputWriter& write, std::string* message)
{
    Sink sink = {fd, 0};
    cookie_io_functions_t functions = {nullptr, sink_write, sink_seek, sink_close};
    std::FILE* out = fopencookie(&sink, "w", functions);
    if (!out)
        return {false, errno};
    // Images are megabytes: a large buffer saves hundreds of write() calls.
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    bool ok = write(out, message);
    bool flushed = std::fflush(out) == 0 && !std::ferror(out);
    std::fclose(out);
    if (!flushed && sink.error == 0)
        sink.error = EIO;
    return {ok, sink.error};
}

// A replaced file keeps its owner and group where the caller may set them
// (root may; others only a group they are in); otherwise it becomes the
// caller's, as any rewrite by rename does. Failing here is no error.
void keep_owner(int fd, uid_t owner, gid_t group)
{
    if (fchown(fd, owner, group) == 0)
        return;
    if (fchown(fd, static_cast<uid_t>(-1), group) == 0)
        return;
}

std::string writer_failure(const std::string& message)
{
    return message.empty() ? "cannot write: the writer gave no reason" : message;
}

}  // namespace

void output_ignore_file_size_signal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

bool output_is_stdout(const std::string& name)
{
    return name == "-";
}

bool output_mode_lets_write(mode_t mode, bool caller_owns, bool caller_in_group, bool caller_is_root)
{
    if (caller_is_root)
        return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    if (caller_owns)
        return (mode & S_IWUSR) != 0;
    if (caller_in_group)
        return (mode & S_IWGRP) != 0;
    return (mode & S_IWOTH) != 0;
}

bool output_prepare(const std::string& name, OutputTarget* target, std::string* problem)
{
    *target = OutputTarget{name, std::string(), false, 0, 0, 0};
    if (name.empty()) {
        *problem = "no file name";
        return false;
    }

    // Follow the link chain by hand: the temporary must go beside the final
    // target, so that the rename replaces the file and not the link.
    fs::path path = name;
    struct stat info;
    bool found = false;
    for (int links = 0;; ++links) {
        if (lstat(path.c_str(), &info) != 0) {
            if (errno == ELOOP) {
                *problem = "too many levels of symbolic links";
                return false;
            }
            // A missing or unreachable folder is explained by the folder check.
            if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
                *problem = std::string("cannot write: ") + std::strerror(errno);
                return false;
            }
            break;
        }
        if (!S_ISLNK(info.st_mode)) {
            found = true;
            break;
        }
        if (links == max_links) {
            *problem = "too many levels of symbolic links";
            return false;
        }
        std::error_code error;
        fs::path to = fs::read_symlink(path, error);
        if (error) {
            *problem = "cannot read the link: " + error.message();
            return false;
        }
        // A relative target is relative to the link's folder; an absolute one
        // replaces the whole path.
        path = path.parent_path() / to;
    }

    if (found) {
        if (S_ISDIR(info.st_mode)) {
            *problem = "is a directory";
            return false;
        }
        // A rename over a device or a pipe would replace the node, not write to it.
        if (!S_ISREG(info.st_mode)) {
            *problem = "is not a regular file; not replaced";
            return false;
        }
        // Decided from the permission bits, not access(): access() says yes
        // to root for any file, and a file made read-only with chmod a-w is
        // to be refused for everyone, as cp and ImageMagick refuse it.
        uid_t uid = geteuid();
        if (!output_mode_lets_write(info.st_mode, info.st_uid == uid, caller_in_group(info.st_gid), uid == 0)) {
            *problem = "is read-only; not replaced";
            return false;
        }
    } else if (path.filename().empty()) {
        *problem = "no file name";
        return false;
    }

    // The temporary is created and renamed in the final target's folder.
    // AT_EACCESS: judged for the effective ids, as the file's bits are.
    std::string folder = folder_text(path);
    struct stat folder_info;
    int error = 0;
    if (stat(folder.c_str(), &folder_info) != 0)
        error = errno;
    else if (!S_ISDIR(folder_info.st_mode))
        error = ENOTDIR;
    else if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    if (error != 0) {
        *problem = "cannot write in " + folder + ": " + std::strerror(error);
        return false;
    }

    target->path = path.string();
    target->exists = found;
    if (found) {
        target->mode = info.st_mode & 0777;
        target->owner = info.st_uid;
        target->group = info.st_gid;
    } else {
        target->mode = 0666 & ~current_umask();
    }
    return true;
}

bool output_commit(const OutputTarget& target, const OutputWriter& write, std::string* problem)
{
    fs::path path = target.path;
    // Cut the name so that "." + name + ".XXXXXX" stays within NAME_MAX.
    std::string base = path.filename().string();
    if (base.size() > NAME_MAX - 8)
        base.resize(NAME_MAX - 8);
    std::string temp = (path.parent_path() / ("." + base + ".XXXXXX")).string();
    std::vector<char> temp_name(temp.begin(), temp.end());
    temp_name.push_back('\0');
    int fd = mkstemp(temp_name.data());
    if (fd < 0) {
        *problem = "cannot write in " + folder_text(path) + ": " + std::strerror(errno);
        return false;
    }

    std::string failure;
    if (target.exists)
        keep_owner(fd, target.owner, target.group);
    // After fchown, which may clear bits.
    if (fchmod(fd, target.mode) != 0) {
        failure = std::string("cannot write: ") + std::strerror(errno);
    } else {
        std::string message;
        Written written = write_through(fd, write, &message);
        if (written.io_error != 0)
            failure = std::string("cannot write: ") + std::strerror(written.io_error);
        else if (!written.writer_ok)
            failure = writer_failure(message);
        else if (fsync(fd) != 0)
            failure = std::string("cannot write: ") + std::strerror(errno);
    }
    if (close(fd) != 0 && failure.empty())
        failure = std::string("cannot write: ") + std::strerror(errno);
    if (failure.empty() && std::rename(temp_name.data(), target.path.c_str()) != 0)
        failure = std::string("cannot write: ") + std::strerror(errno);
    if (!failure.empty()) {
        unlink(temp_name.data());
        *problem = failure;
        return false;
    }
    return true;
}

bool output_to_stdout(const OutputWriter& write, std::string* problem)
{
    if (isatty(STDOUT_FILENO)) {
        *problem = "standard output is a terminal; not writing binary data to it (redirect it or give a file name)";
        return false;
    }
    if (std::fflush(stdout) != 0) {
        *problem = std::string("cannot write to standard output: ") + std::strerror(errno);
        return false;
    }
    std::string message;
    Written written = write_through(STDOUT_FILENO, write, &message);
    if (written.io_error != 0) {
        *problem = std::string("cannot write to standard output: ") + std::strerror(written.io_error);
        return false;
    }
    if (!written.writer_ok) {
        *problem = writer_failure(message);
        return false;
    }
    return true;
}
