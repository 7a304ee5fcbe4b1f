// Files of the adjuster: the safe replacement of a saved file, the tempo switch
// of the preferences that go with a cue sheet, and the standard descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "quenby/quenby.h"
#include "quenby/text.h"

namespace quenby {

namespace {

// The reason line after a message about a file.
void Reason(std::FILE* out, const std::string& name, int error)
{
    std::fprintf(out, "  %s: %s\n", name.c_str(), std::strerror(error));
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& name, const std::string& text, std::FILE* out)
{
    struct stat st;
    const bool existed = ::stat(name.c_str(), &st) == 0;
    mode_t mode;
    if (existed) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    // A hidden temporary next to the target, so the rename stays in one directory.
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.size() > 200) base.resize(200);   // room for the suffix within a name's limit
    const std::string pattern = dir + "." + base + ".XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        std::fprintf(out, "Error: cannot create %s: nothing was written.\n", name.c_str());
        Reason(out, name, error);
        return false;
    }

    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.data(), name.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.data());
        std::fprintf(out, "Error: cannot write %s: nothing was written%s.\n", name.c_str(),
                     existed ? "; the file already there is unchanged" : "");
        Reason(out, name, error);
        return false;
    }
    // Make the rename itself durable; the file is in place whatever this says.
    const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool PrefsTempoOn(const std::string& path, std::FILE* out)
{
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr && errno == ENOENT) return false;   // none: nothing to check
    std::string raw;
    if (f != nullptr) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) raw.append(buf, n);
        if (std::ferror(f) != 0) {
            const int error = errno;
            std::fclose(f);
            errno = error;
            f = nullptr;
        } else {
            std::fclose(f);
        }
    }
    if (f == nullptr) {
        const int error = errno;
        std::fprintf(out, ">> Warning: cannot read %s to see whether it switches tempo mode on.\n", path.c_str());
        Reason(out, path, error);
        return false;
    }
    // The body starts at the line break after the first "begin", as the mixer
    // reads it; the scan stops at "end".
    std::string text = WithPlainLineEnds(raw);
    const size_t begin = text.find("begin");
    if (begin != std::string::npos) {
        const size_t lf = text.find('\n', begin);
        text = lf == std::string::npos ? std::string() : text.substr(lf);
    }
    Tokens tokens(text);
    for (const char* tok = tokens.Next("\t\n"); tok != nullptr; tok = tokens.Next("\t\n")) {
        if (std::strcmp(tok, "end") == 0) break;
        if (std::strcmp(tok, "tempo") == 0) return true;
    }
    return false;
}

bool OpenClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is fd itself: the ones below it are open.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened < 0) return false;
        if (opened != fd) {
            const bool moved = ::dup2(opened, fd) == fd;
            ::close(opened);
            if (!moved) return false;
        }
    }
    return true;
}

}  // namespace quenby
