#include "corvale/run/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "corvale/run/output_file.h"

namespace {

volatile std::sig_atomic_t g_deferStops = 0;
volatile std::sig_atomic_t g_pendingStop = 0;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnStop(int sig)
{
    if (g_deferStops) {
        if (g_pendingStop == 0) g_pendingStop = sig;
        return;
    }
    EndBySignal(sig);
}

void SetAction(int sig, void (*handler)(int))
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;   // no restart: a blocked read returns, the run checks why
    sigaction(sig, &sa, nullptr);
}

}  // namespace

void OpenStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is the closed one.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void InstallSignalHandlers()
{
    for (int sig : kStopSignals) {
        struct sigaction old = {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;   // e.g. under nohup
        SetAction(sig, OnStop);
    }
    SetAction(SIGPIPE, SIG_IGN);
    SetAction(SIGXFSZ, SIG_IGN);
}

void DeferStops(bool defer)
{
    g_deferStops = defer ? 1 : 0;
    if (!defer && g_pendingStop != 0) EndBySignal(g_pendingStop);
}

int PendingStop() { return g_pendingStop; }

void EndBySignal(int sig)
{
    RemoveTemporaries();
    SetAction(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

void RestoreSignalsForChild()
{
    SetAction(SIGPIPE, SIG_DFL);
    SetAction(SIGXFSZ, SIG_DFL);
}

const char* StopSignalName(int sig)
{
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}
