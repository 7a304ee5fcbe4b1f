// Writing the cue sheet so that no earlier one is ever lost: the text goes to a
// temporary file beside the target, synced and renamed into place only when it
// is complete; an earlier file is first copied to a backup name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "palisar/palisar.h"

namespace palisar {
namespace {

constexpr int kMostLinks = 40;

// Where path leads after the symbolic links at its last component. False (with
// errno) when a link cannot be read or the links loop.
bool Resolve(const std::string& path, std::string& target)
{
    target = path;
    for (int i = 0; i < kMostLinks; ++i) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1);
        const ssize_t n = ::readlink(target.c_str(), buf.data(), buf.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) >= buf.size()) {   // the link changed while being read
            errno = ENAMETOOLONG;
            return false;
        }
        std::string link(buf.data(), static_cast<size_t>(n));
        const size_t slash = target.rfind('/');
        if (!link.empty() && link[0] != '/' && slash != std::string::npos) link = target.substr(0, slash + 1) + link;
        target = link;
    }
    errno = ELOOP;
    return false;
}

std::string DirOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A failure: the line of the kind of failure, then the file and the system's reason.
void CannotCreate(std::FILE* out, const char* path)
{
    std::fprintf(out, "Cannot create %s: the fader file was not written.\n", path);
}

void CannotWrite(std::FILE* out, const char* path)
{
    std::fprintf(out, "Error writing %s: the fader file was not written.\n", path);
}

void SyncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Closes fd after a write (written: whether it went through); a failed write or
// close is reported naming shown. Returns true when both went through.
bool CloseWritten(int fd, bool written, const char* shown, const char* path, std::FILE* out)
{
    int e = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        e = errno;
    }
    if (written) return true;
    CannotWrite(out, path);
    std::fprintf(out, "Error: %s could not be written: %s.\n", shown, std::strerror(e));
    return false;
}

// A target that is not a regular file (a device, a FIFO) is written as it is.
WriteResult WriteDirect(const std::string& text, const std::string& target, const char* path, std::FILE* out)
{
    WriteResult result;
    // Without O_NONBLOCK a FIFO nobody reads would hold the program forever.
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        CannotCreate(out, path);
        std::fprintf(out, "Error: %s could not be opened for writing: %s.\n", path, std::strerror(e));
        return result;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    result.ok = CloseWritten(fd, WriteAll(fd, text.data(), text.size()), path, path, out);
    return result;
}

// The names made by one attempt, removed unless the attempt succeeds.
struct Leftovers {
    std::string temp;
    std::string backup;
    ~Leftovers()
    {
        if (!temp.empty()) ::unlink(temp.c_str());
        if (!backup.empty()) ::unlink(backup.c_str());
    }
};

// Copies the file at target, bytes, mode and times, to the first free name of
// path.bak, path.bak.1, ... (the name goes to left.backup as soon as it exists).
// False with a message when it fails.
bool KeepCopy(const std::string& target, const char* path, const struct stat& st, Leftovers& left, std::FILE* out)
{
    const std::string base = std::string(path) + ".bak";
    auto fail = [&](const std::string& name, int e) {
        CannotCreate(out, path);
        std::fprintf(out, "Error: %s could not be kept as %s: %s.\n", path, name.c_str(), std::strerror(e));
        return false;
    };
    const int in = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail(base, errno);
    std::string name;
    int bak = -1;
    for (unsigned long n = 0; bak < 0; ++n) {
        name = n == 0 ? base : base + "." + std::to_string(n);
        bak = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (bak < 0 && errno != EEXIST) {
            const int e = errno;
            ::close(in);
            return fail(name, e);
        }
    }
    left.backup = name;
    std::vector<char> buf(65536);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (!WriteAll(bak, buf.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (ok) ok = ::fchmod(bak, st.st_mode & 07777) == 0;
    if (ok) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(bak, times);   // the backup shows when the kept text was written; not essential
        ok = ::fsync(bak) == 0;
    }
    const int e = errno;
    ::close(in);
    if (::close(bak) != 0 && ok) return fail(name, errno);
    return ok ? true : fail(name, e);
}

}  // namespace

WriteResult WriteFaderFile(const std::string& text, const char* path, std::FILE* out)
{
    WriteResult result;
    std::string target;
    struct stat st;
    bool exists = false;
    bool known = Resolve(path, target);
    if (known) {
        exists = ::lstat(target.c_str(), &st) == 0;
        known = exists || errno == ENOENT;
    }
    if (!known) {
        const int e = errno;
        CannotCreate(out, path);
        std::fprintf(out, "Error: %s could not be opened for writing: %s.\n", path, std::strerror(e));
        return result;
    }
    if (exists && !S_ISREG(st.st_mode)) return WriteDirect(text, target, path, out);

    mode_t mode;
    if (exists) {
        // The rename would replace a file the user may not write to: refuse, as opening it would.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            const int e = errno;
            CannotCreate(out, path);
            std::fprintf(out, "Error: %s could not be opened for writing: %s.\n", path, std::strerror(e));
            return result;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    Leftovers left;
    const std::string pattern = target + ".tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        CannotCreate(out, path);
        std::fprintf(out, "Error: the temporary file %s could not be created: %s.\n", pattern.c_str(), std::strerror(e));
        return result;
    }
    left.temp = name.data();
    const bool written = WriteAll(fd, text.data(), text.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (!CloseWritten(fd, written, left.temp.c_str(), path, out)) return result;

    if (exists && !KeepCopy(target, path, st, left, out)) return result;

    if (::rename(left.temp.c_str(), target.c_str()) != 0) {
        const int e = errno;
        CannotCreate(out, path);
        std::fprintf(out, "Error: %s could not be renamed to %s: %s.\n", left.temp.c_str(), target.c_str(),
                     std::strerror(e));
        return result;
    }
    left.temp.clear();
    SyncDirectory(DirOf(target));
    if (!left.backup.empty() && DirOf(left.backup) != DirOf(target)) SyncDirectory(DirOf(left.backup));
    result.ok = true;
    result.backup = left.backup;
    left.backup.clear();
    return result;
}

}  // namespace palisar
