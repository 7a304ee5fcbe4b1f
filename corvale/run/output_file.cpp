#include "corvale/run/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The temporary files being written, kept where a signal handler can reach them
// without taking a lock or allocating: a fixed table of paths with a flag each.
constexpr int kTempSlots = 64;
struct TempSlot {
    volatile std::sig_atomic_t used = 0;
    char path[PATH_MAX] = {};
};
TempSlot g_tempSlots[kTempSlots];
unsigned long g_tempCounter = 0;

int RegisterTemporary(const std::string& path)
{
    if (path.size() >= sizeof g_tempSlots[0].path) return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        TempSlot& slot = g_tempSlots[i];
        if (slot.used) continue;
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        slot.used = 1;
        return i;
    }
    return -1;
}

void UnregisterTemporary(int i)
{
    if (i >= 0 && i < kTempSlots) g_tempSlots[i].used = 0;
}

std::string DirName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Links are followed at most this many times, as the system does.
constexpr int kMaxLinks = 40;

}  // namespace

OutputTarget ResolveTarget(const std::string& name)
{
    OutputTarget t;
    t.name = name;
    std::string path = name;
    int hops = 0;
    for (;; ++hops) {
        if (hops > kMaxLinks) {
            t.error = ELOOP;
            break;
        }
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) t.error = errno;
            break;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string link(PATH_MAX, '\0');
            const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
            if (n < 0 || static_cast<size_t>(n) >= link.size()) {
                t.error = n < 0 ? errno : ENAMETOOLONG;
                break;
            }
            link.resize(static_cast<size_t>(n));
            path = (link[0] == '/' || path.find('/') == std::string::npos) ? link : DirName(path) + "/" + link;
            continue;
        }
        t.exists = true;
        t.regular = S_ISREG(st.st_mode);
        t.mode = st.st_mode & 0777;
        t.uid = st.st_uid;
        t.gid = st.st_gid;
        break;
    }
    t.real = path;
    t.dir = DirName(path);
    return t;
}

int CheckWritable(const OutputTarget& t)
{
    if (t.error != 0) return t.error;
    if (t.exists && !t.regular) return 0;   // written directly; a failure shows when it is written
    if (t.exists) {
        const int fd = ::open(t.real.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno;
        ::close(fd);
    }
    struct stat d;
    if (::stat(t.dir.c_str(), &d) != 0) return errno;
    if (!S_ISDIR(d.st_mode)) return ENOTDIR;
    if (::faccessat(AT_FDCWD, t.dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

FileIdentity IdentityOf(const std::string& name)
{
    FileIdentity id;
    struct stat st;
    if (::stat(name.c_str(), &st) == 0) {
        id.exists = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
    }
    const OutputTarget t = ResolveTarget(name);
    std::unique_ptr<char, decltype(&std::free)> dir(::realpath(t.dir.c_str(), nullptr), &std::free);
    id.path = (dir ? std::string(dir.get()) : t.dir) + "/" + BaseName(t.real);
    return id;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino;
    return a.path == b.path;
}

bool OutputFile::Open(const OutputTarget& target, size_t bufferBytes)
{
    Discard();
    target_ = target;
    direct_ = target.exists && !target.regular;
    if (target.error != 0) {
        errno = target.error;
        return false;
    }
    if (direct_) {
        f_ = std::fopen(target.real.c_str(), "wb");
        if (f_ == nullptr) return false;
    } else {
        const std::string stem = target.dir + "/." + BaseName(target.real) + ".tmp-" + std::to_string(::getpid()) + "-";
        for (;;) {
            const std::string path = stem + std::to_string(++g_tempCounter);
            slot_ = RegisterTemporary(path);
            if (slot_ < 0) {
                errno = path.size() >= PATH_MAX ? ENAMETOOLONG : EMFILE;
                return false;
            }
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                temp_ = path;
                f_ = ::fdopen(fd, "wb");
                if (f_ == nullptr) {
                    const int e = errno;
                    ::close(fd);
                    Discard();
                    errno = e;
                    return false;
                }
                break;
            }
            const int e = errno;
            UnregisterTemporary(slot_);
            slot_ = -1;
            if (e != EEXIST) {
                errno = e;
                return false;
            }
        }
    }
    if (bufferBytes > 0) {
        buffer_.reset(new char[bufferBytes]);
        std::setvbuf(f_, buffer_.get(), _IOFBF, bufferBytes);
    }
    return true;
}

bool OutputFile::Commit()
{
    if (f_ == nullptr) {
        errno = EBADF;
        return false;
    }
    auto fail = [this] {
        const int e = errno;
        Discard();
        errno = e;
        return false;
    };
    if (std::fflush(f_) != 0 || std::ferror(f_)) {
        if (errno == 0) errno = EIO;
        return fail();
    }
    if (!temp_.empty()) {
        const int fd = ::fileno(f_);
        if (target_.exists) {
            if (target_.uid != ::geteuid() || target_.gid != ::getegid()) {
                // Only root may hand the file back to its owner; otherwise the
                // new file belongs to whoever runs the program.
                if (::fchown(fd, target_.uid, target_.gid) != 0) errno = 0;
            }
            if (::fchmod(fd, target_.mode) != 0) return fail();
        }
        if (::fsync(fd) != 0) return fail();
    }
    std::FILE* f = f_;
    f_ = nullptr;
    if (std::fclose(f) != 0) return fail();
    buffer_.reset();
    if (!temp_.empty()) {
        if (std::rename(temp_.c_str(), target_.real.c_str()) != 0) return fail();
        UnregisterTemporary(slot_);
        slot_ = -1;
        temp_.clear();
    }
    return true;
}

void OutputFile::Discard()
{
    if (f_ != nullptr) {
        std::fclose(f_);
        f_ = nullptr;
    }
    buffer_.reset();
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    UnregisterTemporary(slot_);
    slot_ = -1;
}

bool WriteWholeFile(const OutputTarget& target, const std::string& text)
{
    OutputFile out;
    if (!out.Open(target)) return false;
    if (std::fwrite(text.data(), 1, text.size(), out.stream()) != text.size()) {
        const int e = errno != 0 ? errno : EIO;
        out.Discard();
        errno = e;
        return false;
    }
    return out.Commit();
}

void RemoveTemporaries()
{
    for (int i = 0; i < kTempSlots; ++i)
        if (g_tempSlots[i].used) ::unlink(g_tempSlots[i].path);
}
