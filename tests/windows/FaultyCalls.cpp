#include "FaultyCalls.h"

#include "Calls.h"

#include <map>
#include <mutex>

namespace faults {
namespace {

struct Armed {
    Fault fault;
    int uses = 0;
};

std::mutex g_mutex;
std::vector<Armed> g_armed;
std::map<std::string, bool> g_firedCalls;
int g_fired = 0;

// True when this use of `call` is to fail; the error is then set as Windows sets it.
bool Fails(const char* call)
{
    std::lock_guard lock(g_mutex);
    for (Armed& armed : g_armed) {
        const Fault& f = armed.fault;
        if (f.call != call || (!f.after.empty() && !g_firedCalls[f.after]))
            continue;
        const int use = ++armed.uses;
        if (use >= f.nth && use < f.nth + f.times) {
            g_firedCalls[f.call] = true;
            ++g_fired;
            ::SetLastError(f.error);
            return true;
        }
    }
    return false;
}

// What ReplaceFileW leaves behind when it fails with these errors, as its documentation says.
void ReplaceLeftovers(DWORD error, LPCWSTR replaced, LPCWSTR backup)
{
    const std::wstring aside = std::wstring(replaced) + L".moved-aside";
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && !backup) {
        // "The replaced file no longer exists and the replacement file exists under its
        // original name."
        ::MoveFileExW(replaced, aside.c_str(), 0);
        ::DeleteFileW(aside.c_str());
    } else if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        // "The file to be replaced still exists with a different name. If lpBackupFileName is
        // specified, it will be the name of the replaced file."
        ::MoveFileExW(replaced, backup ? backup : aside.c_str(), 0);
    }
}

}  // namespace

void Arm(const std::vector<Fault>& faults)
{
    std::lock_guard lock(g_mutex);
    g_armed.clear();
    for (const Fault& f : faults)
        g_armed.push_back({f, 0});
    g_firedCalls.clear();
    g_fired = 0;
}

void Disarm()
{
    Arm({});
}

int Fired()
{
    std::lock_guard lock(g_mutex);
    return g_fired;
}

}  // namespace faults

namespace platform::calls {
namespace {

// The call's own answer, or `failed` where the fault fails this use.
template <class Answer, class Call> Answer Unless(const char* call, Answer failed, Call real)
{
    return faults::Fails(call) ? failed : real();
}

}  // namespace

HANDLE createFile(LPCWSTR path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    return Unless("CreateFileW", INVALID_HANDLE_VALUE, [&] {
        return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    });
}

BOOL replaceFile(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags)
{
    if (faults::Fails("ReplaceFileW")) {
        const DWORD error = ::GetLastError();
        faults::ReplaceLeftovers(error, replaced, backup);
        ::SetLastError(error);
        return FALSE;
    }
    return ::ReplaceFileW(replaced, replacement, backup, flags, nullptr, nullptr);
}

BOOL moveFile(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    return Unless("MoveFileExW", FALSE, [&] { return ::MoveFileExW(from, to, flags); });
}

BOOL lockFile(HANDLE file, DWORD flags, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED at)
{
    return Unless("LockFileEx", FALSE,
                  [&] { return ::LockFileEx(file, flags, 0, bytesLow, bytesHigh, at); });
}

BOOL createHardLink(LPCWSTR link, LPCWSTR existing)
{
    return Unless("CreateHardLinkW", FALSE,
                  [&] { return ::CreateHardLinkW(link, existing, nullptr); });
}

BOOL flushFile(HANDLE file)
{
    return Unless("FlushFileBuffers", FALSE, [&] { return ::FlushFileBuffers(file); });
}

BOOL setFileInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    return Unless("SetFileInformationByHandle", FALSE,
                  [&] { return ::SetFileInformationByHandle(file, kind, info, size); });
}

BOOL deleteFile(LPCWSTR path)
{
    return Unless("DeleteFileW", FALSE, [&] { return ::DeleteFileW(path); });
}

DWORD finalPathName(HANDLE file, LPWSTR path, DWORD size, DWORD flags)
{
    return Unless("GetFinalPathNameByHandleW", DWORD{0},
                  [&] { return ::GetFinalPathNameByHandleW(file, path, size, flags); });
}

}  // namespace platform::calls
