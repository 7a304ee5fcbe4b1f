// The process around a run: standard descriptors that are always open, and the
// signals that stop a run. SIGINT, SIGTERM and SIGHUP end the run promptly and
// leave no temporary file behind; SIGPIPE and SIGXFSZ never stop it (a console
// that cannot be written is ignored, a file-size limit is a failed write).
#pragma once

// Opens /dev/null onto any of descriptors 0, 1 and 2 that is closed, so that no
// file the program opens can take the place of standard output.
void OpenStandardDescriptors();

// Installs the stop handlers (leaving a stop signal that was ignored at start
// ignored) and ignores SIGPIPE and SIGXFSZ.
void InstallSignalHandlers();

// While stops are deferred, a stop signal is only recorded (PendingStop tells
// which), to be acted on where the run can clean up and say so. Otherwise a stop
// signal removes the temporary files at once and ends the process by the signal.
// Turning deferral off acts on a signal that arrived meanwhile.
void DeferStops(bool defer);

// The stop signal received while stops were deferred, or 0.
int PendingStop();

// Ends the process by sig with its default action (status 128 + sig), after
// removing the temporary files.
[[noreturn]] void EndBySignal(int sig);

// Gives SIGPIPE and SIGXFSZ back their default action, for a command the
// program starts.
void RestoreSignalsForChild();

// "SIGINT", "SIGTERM" or "SIGHUP" (or "signal N").
const char* StopSignalName(int sig);
