#include "Lease.h"

#include "SharedWin.h"

#include <map>
#include <mutex>
#include <thread>

namespace platform {
namespace {

// Windows has no lease that breaks on an open, but its sharing modes answer the same question
// the other way round: a second handle that lets others read the file and remove its name, but
// not write it, can be had only while no other handle may write it, and while it is open nobody
// can open the file to write. A program saving the state in that moment (the emulator) gets its
// own "cannot open" error and can save again, instead of having its save undone unseen. The
// replace lets it go just before it puts the new file in place (see NewFileBeside.cpp), and looks
// at the file's stamps after.
std::mutex g_holdsMutex;
std::map<HANDLE, HANDLE> g_holds;  // the locked file's handle -> the handle that denies writers

HANDLE DenyWriters(const File& file, DWORD& error)
{
    const HANDLE handle =
        ::ReOpenFile(file.native(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0);
    error = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    return handle;
}

}  // namespace

Openers TakeWriteLease(const File& file)
{
    DWORD error = ERROR_SUCCESS;
    const HANDLE denying = DenyWriters(file, error);
    if (denying == INVALID_HANDLE_VALUE)
        return error == ERROR_SHARING_VIOLATION ? Openers::Others : Openers::Unknown;
    const std::lock_guard<std::mutex> guard(g_holdsMutex);
    const auto [held, added] = g_holds.emplace(file.native(), denying);
    if (!added) {
        ::CloseHandle(held->second);
        held->second = denying;
    }
    return Openers::None;
}

bool WriteLeaseHeld(const File& file)
{
    const std::lock_guard<std::mutex> guard(g_holdsMutex);
    return g_holds.count(file.native()) != 0;
}

void ReleaseWriteLease(const File& file)
{
    const std::lock_guard<std::mutex> guard(g_holdsMutex);
    if (const auto held = g_holds.find(file.native()); held != g_holds.end()) {
        ::CloseHandle(held->second);
        g_holds.erase(held);
    }
}

Openers WaitUntilOnlyOpenHere(const File& file, std::chrono::milliseconds wait)
{
    // Here "only open here" means: nobody else has it open to write (readers do no harm).
    constexpr auto kPause = std::chrono::milliseconds(5);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        DWORD error = ERROR_SUCCESS;
        const HANDLE denying = DenyWriters(file, error);
        if (denying != INVALID_HANDLE_VALUE) {
            ::CloseHandle(denying);
            return Openers::None;
        }
        if (error != ERROR_SHARING_VIOLATION)
            return Openers::Unknown;
        if (std::chrono::steady_clock::now() >= deadline)
            return Openers::Others;
        std::this_thread::sleep_for(kPause);
    }
}

}  // namespace platform
