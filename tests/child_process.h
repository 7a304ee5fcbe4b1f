// A built program run as a child process the test can talk to: its standard
// output read as it comes, its standard input kept open, signals sent while it
// runs, and the way it ended (status or signal).
#pragma once
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace testutil {

struct ChildOptions {
    bool ignoreHangUp = false;   // start with SIGHUP ignored, as nohup does
    bool closeStdout = false;    // start with descriptor 1 closed
    bool stdoutClosedPipe = false;   // standard output is a pipe whose reader is gone
    int umask = -1;              // the child's umask, when not -1
    uid_t uid = 0;               // run as this user and group (only when not 0; needs root)
    gid_t gid = 0;
};

class Child {
public:
    Child(const std::string& dir, const std::vector<std::string>& args, const ChildOptions& opt = {})
    {
        int out[2], in[2];
        if (::pipe(out) != 0 || ::pipe(in) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            if (opt.closeStdout)
                ::close(1);
            else
                ::dup2(out[1], 1);
            ::close(in[0]);
            ::close(in[1]);
            ::close(out[0]);
            ::close(out[1]);
            if (opt.stdoutClosedPipe) {
                int p[2];
                if (::pipe(p) == 0) {
                    ::dup2(p[1], 1);
                    ::close(p[0]);
                    ::close(p[1]);
                }
            }
            ::signal(SIGHUP, opt.ignoreHangUp ? SIG_IGN : SIG_DFL);
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            ::signal(SIGPIPE, SIG_DFL);
            if (opt.umask >= 0) ::umask(static_cast<mode_t>(opt.umask));
            if (opt.uid != 0) {
                if (::setgroups(0, nullptr) != 0 || ::setgid(opt.gid) != 0 || ::setuid(opt.uid) != 0) ::_exit(125);
            }
            if (::chdir(dir.c_str()) != 0) ::_exit(126);
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        outFd_ = out[0];
        inFd_ = in[1];
    }
    ~Child()
    {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) ::close(outFd_);
        if (inFd_ >= 0) ::close(inFd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads standard output until it holds text; false after the timeout or at
    // the end of the output.
    bool WaitFor(const std::string& text, double seconds = 30.0)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (out_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }

    void Send(const std::string& text)
    {
        if (::write(inFd_, text.data(), text.size()) < 0) return;
    }
    void CloseInput()
    {
        if (inFd_ >= 0) ::close(inFd_);
        inFd_ = -1;
    }
    void Signal(int sig) { ::kill(pid_, sig); }

    // Reads the rest of the output and waits for the end. Returns the exit
    // status, or 128 + the signal that ended the child (termSignal set).
    int Wait()
    {
        CloseInput();
        while (ReadSome(-1)) {
        }
        int rc = 0;
        ::waitpid(pid_, &rc, 0);
        reaped_ = true;
        if (WIFSIGNALED(rc)) {
            termSignal_ = WTERMSIG(rc);
            return 128 + termSignal_;
        }
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    const std::string& out() const { return out_; }
    int termSignal() const { return termSignal_; }
    bool started() const { return pid_ > 0; }

private:
    bool ReadSome(int timeoutMs)
    {
        if (outFd_ < 0) return false;
        pollfd p{outFd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(outFd_, buf, sizeof buf);
        if (n <= 0) return false;
        out_.append(buf, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int outFd_ = -1, inFd_ = -1;
    bool reaped_ = false;
    int termSignal_ = 0;
    std::string out_;
};

}  // namespace testutil
