// Output files that never leave a half-written file behind: each output is
// written to a temporary file beside its target and renamed onto the target
// only when complete, so the previous file stays intact until then.
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

// Where a named output really lands. Symbolic links are followed (dangling ones
// too), so that the rename replaces the real file and not the link.
struct OutputTarget {
    std::string name;      // as the user named it
    std::string real;      // the file that is replaced or created
    std::string dir;       // the directory of real ("." for the working directory)
    bool exists = false;   // real exists
    bool regular = true;   // real is a regular file, or does not exist yet
    mode_t mode = 0;       // permission bits of the existing file
    uid_t uid = 0;
    gid_t gid = 0;
    int error = 0;         // errno of a name that cannot be resolved (a loop of links)
};

OutputTarget ResolveTarget(const std::string& name);

// Whether a new version of target can be written: 0, or an errno saying why not.
// An existing regular file must open for writing (it is not changed); its
// directory, or the directory of a new file, must take a new file.
int CheckWritable(const OutputTarget& target);

// The identity of a file for comparing names: the device and inode of an existing
// file, or the real directory and base name of one that does not exist yet.
struct FileIdentity {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string path;   // real directory + "/" + base name
};

FileIdentity IdentityOf(const std::string& name);

// Two names of the same file (as files when both exist, else by real path).
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// One output being written. A regular (or new) target is written to a fresh
// temporary file in its directory, named ".BASE.tmp-PID-N"; a target that
// exists and is not a regular file (a device, a FIFO) is written directly.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Discard(); }

    // Opens the file to write with a fully buffered stream of bufferBytes
    // (0: the library's default). Returns false with errno set.
    bool Open(const OutputTarget& target, size_t bufferBytes = 0);

    // Flushes, syncs to the disk, gives the file the mode (and, where allowed,
    // the owner) of the file it replaces, and renames it onto the target.
    // Returns false with errno set; the temporary file is then removed.
    bool Commit();

    // Closes and removes an uncommitted temporary file.
    void Discard();

    std::FILE* stream() const { return f_; }
    bool isOpen() const { return f_ != nullptr; }
    // True when the target is written through a temporary file (false for a
    // device or FIFO written directly).
    bool usesTemporary() const { return !direct_; }
    const OutputTarget& target() const { return target_; }
    const std::string& temporaryPath() const { return temp_; }

private:
    OutputTarget target_;
    std::FILE* f_ = nullptr;
    std::unique_ptr<char[]> buffer_;   // the stream's buffer lives as long as the stream
    bool direct_ = false;
    std::string temp_;
    int slot_ = -1;   // entry in the table of temporaries a signal removes
};

// Writes text to target through a temporary file. Returns false with errno set.
bool WriteWholeFile(const OutputTarget& target, const std::string& text);

// Removes every temporary file still being written. Safe to call from a signal
// handler.
void RemoveTemporaries();
