// Result files of the batch tools. A result is checked before the expensive
// work starts, then written to a hidden temporary beside the file really
// written and renamed over it, so it is either the whole new file or left
// exactly as it was, even when a signal ends the program part way (see
// output_handle_signals). Messages come back without the file name, in lower
// case, for the caller to print after "PROGRAM: NAME: ".
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <string>

// Where and how a result file is written.
struct OutputTarget {
    std::string name;  // as the user gave it (for messages)
    std::string path;  // the file really written: a symlink (chain) followed to its final target
    bool exists;       // path exists now (its permission bits are kept when it is replaced)
    mode_t mode;       // its permission bits when it exists, else those of a new file: 0666 & ~umask
    uid_t owner;       // its owner and group when it exists, kept where the caller may set them
    gid_t group;
};

// Writes the whole result into `out`; on failure returns false with *problem
// (lower case, no file name). The stream is write-only and seekable when the
// file is; it has no descriptor of its own (fileno gives -1), so use stdio
// calls only. A failed write() is recorded by the stream itself.
using OutputWriter = std::function<bool(std::FILE* out, std::string* problem)>;

// The signal handling of a program that writes results; call it once at the
// start of main, before any thread starts (and before SDL_Init, which then
// leaves these signals alone). A write past the file size limit (ulimit -f)
// then fails with EFBIG instead of killing the process with SIGXFSZ. On
// SIGINT, SIGTERM, SIGHUP or SIGPIPE every temporary that output_commit is
// writing (on any thread, up to eight at once) is removed, and the process
// then dies by that same signal (its default action restored and the signal
// raised again), so that a calling shell or make sees the interruption.
// Results already renamed into place stay whole; a file being replaced stays
// as it was. A signal ignored when the program starts (nohup, a background
// job) stays ignored.
void output_handle_signals();

// "-" means standard output; call before output_prepare, which takes every
// name, "-" included, as a file name.
bool output_is_stdout(const std::string& name);

// Checks, before any expensive work, that `name` can be written, and resolves
// it. False with *problem: "is a directory", "is not a regular file; not
// replaced", "is read-only; not replaced", "too many levels of symbolic
// links", "cannot write in FOLDER: ERROR" (the folder of the final target is
// missing, not a folder, or not writable), "cannot read the link: ERROR",
// "no file name" (empty, or ending in '/'), "cannot write: ERROR" (any other
// failure to look the name up, such as a name too long). An existing file
// may be replaced when its permission bits let the caller write it: the
// owner bits when the caller owns it, the group bits when it is in the
// file's group, else the other bits; for root, any write bit.
bool output_prepare(const std::string& name, OutputTarget* target, std::string* problem);

// Writes target.path: `write` gets a stream on a fresh temporary beside it
// (".NAME.XXXXXX" in the same folder); the stream is flushed, synced and
// closed, the permission bits (and for a replaced file its owner and group)
// set, and the temporary renamed over target.path. On any failure the
// temporary is removed, an existing file is left untouched, and false comes
// back with *problem: "cannot write: ERROR" when a write, flush, sync or the
// rename failed (a failed write wins over the writer's own message, which is
// then usually a consequence), else the writer's message, or "cannot write in
// FOLDER: ERROR" when no temporary could be created.
bool output_commit(const OutputTarget& target, const OutputWriter& write, std::string* problem);

// Writes to standard output (for "-"), unless it is a terminal. Anything
// already buffered in stdout goes first. False with *problem, which names
// standard output itself: "standard output is a terminal; not writing binary
// data to it (redirect it or give a file name)", "cannot write to standard
// output: ERROR" (EPIPE among them, when SIGPIPE is ignored), or the writer's
// message.
bool output_to_stdout(const OutputWriter& write, std::string* problem);
