#include "io/output_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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

// The temporaries being written, for the signal handler to remove; it may
// only read memory and call async-signal-safe functions, so the table is
// fixed. A slot goes FREE -> FILLING -> HELD -> FREE: FILLING while its thread,
// with the signals below blocked, creates the file in the slot's name; HELD
// until the file is renamed into place or removed. The handler sets `dying`
// first, then waits out each FILLING slot (it is on another thread, the
// filler having the signals blocked) and unlinks each HELD name. A slot
// taken after `dying` is set is never filled, so no name changes while the
// handler reads it. More temporaries at once than slots, or a name longer
// than a slot, are written without this protection. A relative name is
// unlinked relative to the working folder, which the programs never change.
enum { TEMP_SLOTS = 8 };
enum { SLOT_FREE, SLOT_FILLING, SLOT_HELD };

struct TempSlot {
    std::atomic<int> state;
    char path[PATH_MAX];
};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler reads these atomics");

TempSlot temp_slots[TEMP_SLOTS];
std::atomic<bool> dying(false);

const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t cleanup_signal_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : cleanup_signals)
        sigaddset(&set, sig);
    return set;
}

extern "C" void remove_temporaries_and_die(int sig)
{
    dying.store(true);
    for (TempSlot& slot : temp_slots) {
        int state;
        while ((state = slot.state.load()) == SLOT_FILLING) {
        }
        if (state == SLOT_HELD)
            unlink(slot.path);
    }
    signal(sig, SIG_DFL);
    raise(sig);  // delivered when the handler returns: the signal is blocked until then
}

// The handler, running on another thread, ends the process; this thread
// waits for that rather than go on (or report a temporary it removed).
[[noreturn]] void wait_for_death()
{
    sigset_t set = cleanup_signal_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    for (;;)
        pause();
}

// Creates a fresh temporary from `pattern` (ending in XXXXXX) and enters it
// in the table: *name becomes its name, *slot its slot (-1 for none). The
// descriptor, or -1 with errno.
int create_temporary(const std::string& pattern, std::string* name, int* slot)
{
    sigset_t handled = cleanup_signal_set(), previous;
    pthread_sigmask(SIG_BLOCK, &handled, &previous);
    *slot = -1;
    for (int i = 0; i < TEMP_SLOTS && pattern.size() < sizeof temp_slots[i].path; ++i) {
        int expected = SLOT_FREE;
        if (temp_slots[i].state.compare_exchange_strong(expected, SLOT_FILLING)) {
            *slot = i;
            break;
        }
    }
    if (*slot >= 0 && dying.load()) {
        temp_slots[*slot].state.store(SLOT_FREE);
        wait_for_death();
    }
    std::vector<char> own(pattern.size() + 1);
    char* path = *slot >= 0 ? temp_slots[*slot].path : own.data();
    std::memcpy(path, pattern.c_str(), pattern.size() + 1);
    const int fd = mkstemp(path);
    const int error = errno;
    *name = path;
    if (*slot >= 0)
        temp_slots[*slot].state.store(fd >= 0 ? SLOT_HELD : SLOT_FREE);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return fd;
}

// The temporary in `slot` was renamed or removed.
void forget_temporary(int slot)
{
    if (slot >= 0)
        temp_slots[slot].state.store(SLOT_FREE);
}

}  // namespace

void output_handle_signals()
{
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = remove_temporaries_and_die;
    // While the handler runs, the other cleanup signals wait on its thread.
    action.sa_mask = cleanup_signal_set();
    for (int sig : cleanup_signals) {
        struct sigaction before;
        if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &action, nullptr);
    }
}

bool output_is_stdout(const std::string& name)
{
    return name == "-";
}

// Whether permission bits `mode` let the caller replace a file: the owner
// bits when the caller owns it, the group bits when it is in the file's group,
// else the other bits; for root, any write bit.
static bool mode_lets_write(mode_t mode, bool caller_owns, bool caller_in_group, bool caller_is_root)
{
    if (caller_is_root)
        return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    if (caller_owns)
        return (mode & S_IWUSR) != 0;
    if (caller_in_group)
        return (mode & S_IWGRP) != 0;
    return (mode & S_IWOTH) != 0;
}

// Follows the link chain from `name` by hand: the temporary must go beside
// the final target, so that the rename replaces the file and not the link.
// *path becomes the final target and *found whether it exists (then *info
// holds its lstat). False with *problem.
static bool follow_links(const std::string& name, fs::path* path, struct stat* info, bool* found,
                         std::string* problem)
{
    *path = name;
    *found = false;
    for (int links = 0;; ++links) {
        if (lstat(path->c_str(), info) != 0) {
            if (errno == ELOOP) {
                *problem = "too many levels of symbolic links";
                return false;
            }
            // A missing or unreachable folder is explained by the folder check.
            if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
                *problem = std::string("cannot write: ") + std::strerror(errno);
                return false;
            }
            return true;
        }
        if (!S_ISLNK(info->st_mode)) {
            *found = true;
            return true;
        }
        if (links == max_links) {
            *problem = "too many levels of symbolic links";
            return false;
        }
        std::error_code error;
        fs::path to = fs::read_symlink(*path, error);
        if (error) {
            *problem = "cannot read the link: " + error.message();
            return false;
        }
        // A relative target is relative to the link's folder; an absolute one
        // replaces the whole path.
        *path = path->parent_path() / to;
    }
}

// An existing file (as lstat describes it) that the caller may replace.
static bool replaceable(const struct stat& info, std::string* problem)
{
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
    if (!mode_lets_write(info.st_mode, info.st_uid == uid, caller_in_group(info.st_gid), uid == 0)) {
        *problem = "is read-only; not replaced";
        return false;
    }
    return true;
}

// The temporary is created and renamed in the final target's folder.
// AT_EACCESS: judged for the effective ids, as the file's bits are.
static bool folder_takes_files(const fs::path& path, std::string* problem)
{
    std::string folder = folder_text(path);
    struct stat folder_info;
    int error = 0;
    if (stat(folder.c_str(), &folder_info) != 0)
        error = errno;
    else if (!S_ISDIR(folder_info.st_mode))
        error = ENOTDIR;
    else if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    if (error == 0)
        return true;
    *problem = "cannot write in " + folder + ": " + std::strerror(error);
    return false;
}

bool output_prepare(const std::string& name, OutputTarget* target, std::string* problem)
{
    *target = OutputTarget{name, std::string(), false, 0, 0, 0};
    if (name.empty()) {
        *problem = "no file name";
        return false;
    }
    fs::path path;
    struct stat info;
    bool found;
    if (!follow_links(name, &path, &info, &found, problem) || (found && !replaceable(info, problem)))
        return false;
    if (!found && path.filename().empty()) {
        *problem = "no file name";
        return false;
    }
    if (!folder_takes_files(path, problem))
        return false;

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
    std::string temp;
    int slot;
    int fd = create_temporary((path.parent_path() / ("." + base + ".XXXXXX")).string(), &temp, &slot);
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
    if (failure.empty() && std::rename(temp.c_str(), target.path.c_str()) != 0)
        failure = std::string("cannot write: ") + std::strerror(errno);
    if (!failure.empty())
        unlink(temp.c_str());
    forget_temporary(slot);
    if (failure.empty())
        return true;
    // The failure may be the handler's doing (it removed the temporary).
    if (dying.load())
        wait_for_death();
    *problem = failure;
    return false;
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
