// Result files: written whole or not at all, through symlinks, never over a
// read-only file (root included), and never leaving a temporary behind. Each
// test works in a fresh folder under /tmp.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "io/output_file.h"

namespace {

class OutputFile : public ScratchDirTest {
protected:
    static mode_t mode_of(const std::string& path)
    {
        struct stat info;
        return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    static std::string link_of(const std::string& path)
    {
        char buffer[4096];
        ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
        return n < 0 ? std::string("(not a link)") : std::string(buffer, static_cast<size_t>(n));
    }


    // Prepares and commits `name` with `text`; the problem, or "" on success.
    static std::string save(const std::string& name, const std::string& text)
    {
        OutputTarget target;
        std::string problem;
        if (!output_prepare(name, &target, &problem))
            return "prepare: " + problem;
        if (!output_commit(target, text_writer(text), &problem))
            return "commit: " + problem;
        return "";
    }

    static OutputWriter text_writer(const std::string& text)
    {
        return [text](std::FILE* out, std::string* problem) {
            if (std::fwrite(text.data(), 1, text.size(), out) == text.size())
                return true;
            *problem = "short write";
            return false;
        };
    }

    // The problem output_prepare gives for `name`, or "" when it accepts it.
    static std::string refusal(const std::string& name)
    {
        OutputTarget target;
        std::string problem;
        return output_prepare(name, &target, &problem) ? "" : problem;
    }
};

TEST_F(OutputFile, NewFilesTakeTheUmaskAndRelativeNamesWork)
{
    mode_t old_mask = umask(022);
    EXPECT_EQ(save(at("a.bmp"), "first"), "");
    umask(077);
    EXPECT_EQ(save(at("b.bmp"), "second"), "");
    umask(old_mask);
    EXPECT_EQ(read_file(at("a.bmp")), "first");
    EXPECT_EQ(mode_of(at("a.bmp")), 0644u);
    EXPECT_EQ(read_file(at("b.bmp")), "second");
    EXPECT_EQ(mode_of(at("b.bmp")), 0600u);

    // A bare name lives in the current folder.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    OutputTarget target;
    std::string problem;
    bool prepared = output_prepare("c.bmp", &target, &problem);
    bool committed = prepared && output_commit(target, text_writer("third"), &problem);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(prepared && committed) << problem;
    EXPECT_EQ(target.name, "c.bmp");
    EXPECT_EQ(target.path, "c.bmp");
    EXPECT_FALSE(target.exists);
    EXPECT_EQ(read_file(at("c.bmp")), "third");
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp"}));
}

TEST_F(OutputFile, ReplacingKeepsThePermissionBits)
{
    for (mode_t mode : {0640u, 0604u, 0660u, 0600u}) {
        write_file(at("old.bmp"), "previous result");
        ASSERT_EQ(chmod(at("old.bmp").c_str(), mode), 0);
        EXPECT_EQ(save(at("old.bmp"), "new result"), "") << std::oct << mode;
        EXPECT_EQ(read_file(at("old.bmp")), "new result");
        EXPECT_EQ(mode_of(at("old.bmp")), mode) << std::oct << mode;
        EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"old.bmp"});
    }
}

TEST_F(OutputFile, RootKeepsTheOwnerOfAReplacedFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can hand a file to another owner";
    write_file(at("theirs.bmp"), "previous result");
    ASSERT_EQ(chown(at("theirs.bmp").c_str(), 12345, 23456), 0);
    ASSERT_EQ(chmod(at("theirs.bmp").c_str(), 0644), 0);
    EXPECT_EQ(save(at("theirs.bmp"), "new result"), "");
    struct stat info;
    ASSERT_EQ(stat(at("theirs.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 12345u);
    EXPECT_EQ(info.st_gid, 23456u);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(read_file(at("theirs.bmp")), "new result");
}

TEST_F(OutputFile, WriterMaySeekBack)
{
    // As a BMP writer does to fill in the file size after the pixels.
    OutputWriter writer = [](std::FILE* out, std::string*) {
        std::fputs("####-body", out);
        long end = std::ftell(out);
        std::fseek(out, 0, SEEK_SET);
        std::fputs("head", out);
        std::fseek(out, end, SEEK_SET);
        std::fputs("-tail", out);
        return true;
    };
    OutputTarget target;
    std::string problem;
    ASSERT_TRUE(output_prepare(at("seek.bmp"), &target, &problem)) << problem;
    ASSERT_TRUE(output_commit(target, writer, &problem)) << problem;
    EXPECT_EQ(read_file(at("seek.bmp")), "head-body-tail");
}

TEST_F(OutputFile, LongNamesStillGetATemporaryAndOverlongOnesAreRefused)
{
    std::string name(250, 'n');
    EXPECT_EQ(save(at(name), "long"), "");
    EXPECT_EQ(read_file(at(name)), "long");
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{name});
    EXPECT_EQ(refusal(at(std::string(NAME_MAX + 1, 'n'))), std::string("cannot write: ") + std::strerror(ENAMETOOLONG));
}

TEST_F(OutputFile, SymlinksAreWrittenThrough)
{
    ASSERT_EQ(mkdir(at("real").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(at("links").c_str(), 0755), 0);
    write_file(at("real/r.bmp"), "previous result");
    ASSERT_EQ(chmod(at("real/r.bmp").c_str(), 0640), 0);

    // Absolute, relative to the link's folder (not to the current one), and a
    // chain through both kinds.
    ASSERT_EQ(symlink(at("real/r.bmp").c_str(), at("links/abs").c_str()), 0);
    ASSERT_EQ(symlink("../real/r.bmp", at("links/rel").c_str()), 0);
    ASSERT_EQ(symlink("rel", at("links/chain2").c_str()), 0);
    ASSERT_EQ(symlink(at("links/chain2").c_str(), at("chain1").c_str()), 0);
    const char* names[] = {"links/abs", "links/rel", "chain1"};
    for (const char* name : names) {
        std::string text = std::string("through ") + name;
        EXPECT_EQ(save(at(name), text), "") << name;
        EXPECT_EQ(read_file(at("real/r.bmp")), text);
        EXPECT_EQ(mode_of(at("real/r.bmp")), 0640u);
    }
    EXPECT_EQ(link_of(at("links/abs")), at("real/r.bmp"));
    EXPECT_EQ(link_of(at("links/rel")), "../real/r.bmp");
    EXPECT_EQ(link_of(at("links/chain2")), "rel");
    EXPECT_EQ(link_of(at("chain1")), at("links/chain2"));
    EXPECT_EQ(folder_entries(at("real")), std::vector<std::string>{"r.bmp"});
    EXPECT_EQ(folder_entries(at("links")), (std::vector<std::string>{"abs", "chain2", "rel"}));

    // Only the final target's folder is written: the link's may be read-only.
    ASSERT_EQ(chmod(at("links").c_str(), 0555), 0);
    EXPECT_EQ(save(at("links/rel"), "from a read-only folder"), "");
    EXPECT_EQ(read_file(at("real/r.bmp")), "from a read-only folder");
    EXPECT_EQ(folder_entries(at("links")), (std::vector<std::string>{"abs", "chain2", "rel"}));
}

TEST_F(OutputFile, DanglingLinksCreateTheirTarget)
{
    ASSERT_EQ(mkdir(at("real").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real/new.bmp", at("dangling").c_str()), 0);
    EXPECT_EQ(save(at("dangling"), "created"), "");
    EXPECT_EQ(read_file(at("real/new.bmp")), "created");
    EXPECT_EQ(link_of(at("dangling")), "real/new.bmp");
    EXPECT_EQ(folder_entries(at("real")), std::vector<std::string>{"new.bmp"});

    // Its folder must exist: the message names the target's folder.
    ASSERT_EQ(symlink("missing/new.bmp", at("nowhere").c_str()), 0);
    EXPECT_EQ(refusal(at("nowhere")),
              "cannot write in " + at("missing") + ": " + std::strerror(ENOENT));
}

TEST_F(OutputFile, LinkLoopsAndOverlongChainsAreRefused)
{
    ASSERT_EQ(symlink("self", at("self").c_str()), 0);
    ASSERT_EQ(symlink("pong", at("ping").c_str()), 0);
    ASSERT_EQ(symlink("ping", at("pong").c_str()), 0);
    EXPECT_EQ(refusal(at("self")), "too many levels of symbolic links");
    EXPECT_EQ(refusal(at("ping")), "too many levels of symbolic links");

    // l1 -> l2 -> ... -> l40 -> file: forty links resolve, as open() would
    // resolve them; l0 -> l1 is one more.
    write_file(at("file"), "previous result");
    ASSERT_EQ(symlink("file", at("l40").c_str()), 0);
    for (int i = 39; i >= 0; --i)
        ASSERT_EQ(symlink(("l" + std::to_string(i + 1)).c_str(), at("l" + std::to_string(i)).c_str()), 0);
    int fd = open(at("l1").c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(save(at("l1"), "forty links"), "");
    EXPECT_EQ(read_file(at("file")), "forty links");
    EXPECT_EQ(refusal(at("l0")), "too many levels of symbolic links");
    EXPECT_EQ(read_file(at("file")), "forty links");
}

TEST_F(OutputFile, DirectoriesAndOtherNonFilesAreRefused)
{
    ASSERT_EQ(mkdir(at("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("sub", at("to-sub").c_str()), 0);
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0644), 0);
    EXPECT_EQ(refusal(at("sub")), "is a directory");
    EXPECT_EQ(refusal(at("sub/")), "is a directory");
    EXPECT_EQ(refusal(at("to-sub")), "is a directory");
    EXPECT_EQ(refusal(dir), "is a directory");
    EXPECT_EQ(refusal(at("fifo")), "is not a regular file; not replaced");
    EXPECT_EQ(refusal(at("new/")), "no file name");
    EXPECT_EQ(refusal(""), "no file name");
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"fifo", "sub", "to-sub"}));
    EXPECT_EQ(folder_entries(at("sub")), std::vector<std::string>{});
}

TEST_F(OutputFile, ReadOnlyFilesAreRefusedEvenForRoot)
{
    for (mode_t mode : {0444u, 0400u, 0000u}) {
        write_file(at("locked.bmp"), "previous result");
        ASSERT_EQ(chmod(at("locked.bmp").c_str(), mode), 0);
        EXPECT_EQ(refusal(at("locked.bmp")), "is read-only; not replaced") << std::oct << mode;
        EXPECT_EQ(mode_of(at("locked.bmp")), mode);
        ASSERT_EQ(chmod(at("locked.bmp").c_str(), 0600), 0);
        EXPECT_EQ(read_file(at("locked.bmp")), "previous result");
    }
    // Through a link, too.
    ASSERT_EQ(chmod(at("locked.bmp").c_str(), 0444), 0);
    ASSERT_EQ(symlink("locked.bmp", at("link").c_str()), 0);
    EXPECT_EQ(refusal(at("link")), "is read-only; not replaced");
    EXPECT_EQ(read_file(at("locked.bmp")), "previous result");
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"link", "locked.bmp"}));
}

// Whether output_prepare lets a caller replace `path` when its permission
// bits are `mode` and the caller owns it or not, is in its group or not, or
// is root: a child process takes the caller's ids (which only root can
// hand out).
static bool prepare_as(const std::string& path, mode_t mode, bool owns, bool in_group, bool root)
{
    const uid_t caller = 60001, stranger = 60002;
    const gid_t caller_group = 60001, shared = 60003, foreign = 60004;
    write_file(path, "previous result");
    EXPECT_EQ(chown(path.c_str(), owns ? caller : stranger, in_group ? shared : foreign), 0);
    EXPECT_EQ(chmod(path.c_str(), mode), 0);
    const pid_t child = fork();
    if (child == 0) {
        const gid_t groups[] = {shared};
        if (!root && (setgroups(1, groups) != 0 || setgid(caller_group) != 0 || setuid(caller) != 0))
            _exit(2);
        OutputTarget target;
        std::string problem;
        _exit(output_prepare(path, &target, &problem) ? 0 : 1);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "the child could not take the caller's ids";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(OutputFile, TheCallersClassOfBitsDecides)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can make files of other owners and take other ids; run as root to check";
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    const struct {
        mode_t mode;
        bool owns, in_group, root, writable;
    } cases[] = {
        {0644, true, false, false, true},   {0444, true, false, false, false},
        {0464, true, true, false, false},   // the owner is not also judged as group
        {0646, true, false, false, true},   {0464, false, true, false, true},
        {0644, false, true, false, false},  {0446, false, true, false, false},
        {0646, false, false, false, true},  {0664, false, false, false, false},
        {0200, false, false, true, true},   {0020, false, false, true, true},
        {0002, false, false, true, true},   {0444, false, false, true, false},
        {0555, true, false, true, false},   {0000, true, true, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(prepare_as(at("file"), c.mode, c.owns, c.in_group, c.root), c.writable)
            << std::oct << c.mode << " owns " << c.owns << " group " << c.in_group << " root " << c.root;
}

TEST_F(OutputFile, TheFolderMustExistAndBeAFolder)
{
    write_file(at("plain"), "a file");
    EXPECT_EQ(refusal(at("missing/out.bmp")), "cannot write in " + at("missing") + ": " + std::strerror(ENOENT));
    EXPECT_EQ(refusal(at("missing/deeper/out.bmp")),
              "cannot write in " + at("missing/deeper") + ": " + std::strerror(ENOENT));
    EXPECT_EQ(refusal(at("plain/out.bmp")), "cannot write in " + at("plain") + ": " + std::strerror(ENOTDIR));
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"plain"});
}

TEST_F(OutputFile, TheFolderMustBeWritable)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes in any folder; run as another user to check the refusal";
    ASSERT_EQ(mkdir(at("shut").c_str(), 0755), 0);
    write_file(at("shut/old.bmp"), "previous result");
    ASSERT_EQ(chmod(at("shut").c_str(), 0555), 0);
    const std::string refused = "cannot write in " + at("shut") + ": " + std::strerror(EACCES);
    EXPECT_EQ(refusal(at("shut/new.bmp")), refused);
    EXPECT_EQ(refusal(at("shut/old.bmp")), refused);
    // A link from a writable folder into it is refused alike.
    ASSERT_EQ(symlink("shut/old.bmp", at("link").c_str()), 0);
    EXPECT_EQ(refusal(at("link")), refused);
    EXPECT_EQ(read_file(at("shut/old.bmp")), "previous result");
    EXPECT_EQ(folder_entries(at("shut")), std::vector<std::string>{"old.bmp"});
}

TEST_F(OutputFile, AFailingWriterLeavesTheOldFileAndNoTemporary)
{
    write_file(at("old.bmp"), "previous result");
    ASSERT_EQ(chmod(at("old.bmp").c_str(), 0640), 0);
    OutputTarget target;
    std::string problem;
    ASSERT_TRUE(output_prepare(at("old.bmp"), &target, &problem)) << problem;

    OutputWriter halfway = [](std::FILE* out, std::string* why) {
        std::vector<char> block(100000, 'x');  // past the stream's buffer: some reaches the disk
        std::fwrite(block.data(), 1, block.size(), out);
        *why = "pixel 7 has no colour";
        return false;
    };
    EXPECT_FALSE(output_commit(target, halfway, &problem));
    EXPECT_EQ(problem, "pixel 7 has no colour");

    OutputWriter silent = [](std::FILE*, std::string*) { return false; };
    problem.clear();
    EXPECT_FALSE(output_commit(target, silent, &problem));
    EXPECT_FALSE(problem.empty());

    EXPECT_EQ(read_file(at("old.bmp")), "previous result");
    EXPECT_EQ(mode_of(at("old.bmp")), 0640u);
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"old.bmp"});

    // The folder went away between the check and the write.
    ASSERT_EQ(mkdir(at("gone").c_str(), 0755), 0);
    ASSERT_TRUE(output_prepare(at("gone/new.bmp"), &target, &problem)) << problem;
    ASSERT_EQ(rmdir(at("gone").c_str()), 0);
    EXPECT_FALSE(output_commit(target, text_writer("lost"), &problem));
    EXPECT_EQ(problem, "cannot write in " + at("gone") + ": " + std::strerror(ENOENT));
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"old.bmp"});
}

// Commits `size` bytes over `path` in a child process whose file size limit
// is 64 KiB, so that the write fails midway with EFBIG. The writer either
// checks each fwrite or ignores errors and claims success. Returns the
// child's problem text, or a description of what went wrong in the child.
std::string commit_past_file_size_limit(const std::string& path, size_t size, bool writer_checks)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "no pipe";
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        output_handle_signals();
        struct rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        OutputWriter writer = [size, writer_checks](std::FILE* out, std::string* why) {
            std::vector<char> block(4096, 'z');
            for (size_t done = 0; done < size; done += block.size())
                if (std::fwrite(block.data(), 1, block.size(), out) != block.size() && writer_checks) {
                    *why = "the writer saw a short write";
                    return false;
                }
            return true;
        };
        OutputTarget target;
        std::string problem;
        bool ok = output_prepare(path, &target, &problem) && output_commit(target, writer, &problem);
        std::string report = ok ? "succeeded" : problem;
        ssize_t sent = ::write(channel[1], report.data(), report.size());
        _exit(sent == static_cast<ssize_t>(report.size()) ? 0 : 3);
    }
    close(channel[1]);
    std::string report;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, static_cast<size_t>(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return "child killed by signal " + std::to_string(WTERMSIG(status));
    return report;
}

TEST_F(OutputFile, AFullDiskFailsTheWriteAndKeepsTheOldFile)
{
    write_file(at("old.bmp"), "previous result");
    const std::string too_large = std::string("cannot write: ") + std::strerror(EFBIG);
    // The stream's own record of the failed write_file() wins over the writer's
    // message, and catches a writer that ignores its errors.
    EXPECT_EQ(commit_past_file_size_limit(at("old.bmp"), 1 << 20, true), too_large);
    EXPECT_EQ(commit_past_file_size_limit(at("old.bmp"), 1 << 20, false), too_large);
    EXPECT_EQ(commit_past_file_size_limit(at("new.bmp"), 1 << 20, false), too_large);
    EXPECT_EQ(read_file(at("old.bmp")), "previous result");
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"old.bmp"});
    // Under the limit the same child succeeds.
    EXPECT_EQ(commit_past_file_size_limit(at("old.bmp"), 8192, true), "succeeded");
    EXPECT_EQ(read_file(at("old.bmp")), std::string(8192, 'z'));
}

// In a child: ten results written whole (their slots in the handler's table
// free again), then two temporaries at once, old.bmp's written from inside
// held.bmp's writer, which raises `sig`. Both must go, and the child die by
// `sig`.
TEST_F(OutputFile, ASignalRemovesEveryTemporaryAndKillsByIt)
{
    write_file(at("old.bmp"), "previous result");
    const std::vector<std::string> whole = {"done0", "done1", "done2", "done3", "done4", "done5",
                                            "done6", "done7", "done8", "done9"};
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            std::signal(sig, SIG_DFL);
            output_handle_signals();
            for (const std::string& name : whole)
                save(at(name), "whole");
            OutputTarget held, old;
            std::string problem;
            output_prepare(at("held.bmp"), &held, &problem);
            output_prepare(at("old.bmp"), &old, &problem);
            output_commit(held,
                          [&](std::FILE* out, std::string*) {
                              std::fputs("part", out);
                              return output_commit(old,
                                                   [sig](std::FILE* inner, std::string*) {
                                                       std::fputs("new", inner);
                                                       std::fflush(inner);
                                                       return raise(sig) == 0;
                                                   },
                                                   &problem);
                          },
                          &problem);
            _exit(5);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig << ", status " << status;
        std::vector<std::string> expected = whole;
        expected.push_back("old.bmp");
        EXPECT_EQ(folder_entries(dir), expected) << "signal " << sig;
        EXPECT_EQ(read_file(at("old.bmp")), "previous result");
        EXPECT_EQ(read_file(at("done9")), "whole");
        for (const std::string& name : whole)
            unlink(at(name).c_str());
    }
}

// Runs output_to_stdout, writing "image", with standard output moved to
// `fd` and `before` already printed (and still buffered) there.
bool to_stdout_on(int fd, const char* before, std::string* problem)
{
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    std::fputs(before, stdout);
    bool ok = output_to_stdout(
        [](std::FILE* out, std::string*) {
            std::fputs("image", out);
            return true;
        },
        problem);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return ok;
}

TEST(OutputStdout, RefusesATerminalWritesToAPipeAndReportsAClosedOne)
{
    int master, slave;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    std::string problem;
    EXPECT_FALSE(to_stdout_on(slave, "", &problem));
    EXPECT_EQ(problem,
              "standard output is a terminal; not writing binary data to it (redirect it or give a file name)");
    close(slave);
    close(master);

    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    EXPECT_TRUE(to_stdout_on(channel[1], "earlier ", &problem)) << problem;
    close(channel[1]);
    char buffer[64];
    ssize_t n = ::read(channel[0], buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0))), "earlier image");

    // With SIGPIPE ignored, as a tool may choose, the write fails with EPIPE.
    void (*previous)(int) = std::signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(pipe(channel), 0);
    close(channel[0]);
    bool ok = to_stdout_on(channel[1], "", &problem);
    std::signal(SIGPIPE, previous);
    close(channel[1]);
    EXPECT_FALSE(ok);
    EXPECT_EQ(problem, std::string("cannot write to standard output: ") + std::strerror(EPIPE));
}

}  // namespace
