#include "Lease.h"

#include <cerrno>
#include <csignal>
#include <thread>

#include <fcntl.h>

namespace platform {
namespace {

// A real-time signal of ours for lease breaks, beyond the ones the C library keeps.
int BreakSignal()
{
    return SIGRTMIN + 5;
}

// Lets go at once: the program that opened the file waits in its open until we do.
void OnBreak(int, siginfo_t* info, void*)
{
    const int saved = errno;
    (void)::fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
    errno = saved;
}

// Installed once, and only where nothing else of the program uses the signal.
bool BreakHandlerInstalled()
{
    static const bool installed = [] {
        struct sigaction current {
        };
        if (::sigaction(BreakSignal(), nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
            current.sa_handler != SIG_DFL)
            return false;
        struct sigaction action {
        };
        action.sa_sigaction = OnBreak;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        return ::sigaction(BreakSignal(), &action, nullptr) == 0;
    }();
    return installed;
}

}  // namespace

Openers TakeWriteLease(const File& file)
{
    if (!file.valid() || !BreakHandlerInstalled() ||
        ::fcntl(file.native(), F_SETSIG, BreakSignal()) != 0)
        return Openers::Unknown;
    if (::fcntl(file.native(), F_SETLEASE, F_WRLCK) == 0)
        return Openers::None;
    // EACCES: another user's file; EINVAL: a file system without leases.
    return errno == EAGAIN ? Openers::Others : Openers::Unknown;
}

bool WriteLeaseHeld(const File& file)
{
    return file.valid() && ::fcntl(file.native(), F_GETLEASE) == F_WRLCK;
}

void ReleaseWriteLease(const File& file)
{
    if (file.valid())
        (void)::fcntl(file.native(), F_SETLEASE, F_UNLCK);
}

Openers WaitUntilOnlyOpenHere(const File& file, std::chrono::milliseconds wait)
{
    // Often enough that a writer's close is seen within a few milliseconds; each try is one
    // system call, so the wait costs no measurable CPU.
    constexpr auto kPause = std::chrono::milliseconds(5);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const Openers now = TakeWriteLease(file);
        if (now == Openers::None)
            ReleaseWriteLease(file);
        if (now != Openers::Others || std::chrono::steady_clock::now() >= deadline)
            return now;
        std::this_thread::sleep_for(kPause);
    }
}

}  // namespace platform
