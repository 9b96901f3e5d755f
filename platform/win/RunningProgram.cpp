#include "RunningProgram.h"

#include "Internal.h"

#include <csignal>

#include <tlhelp32.h>

namespace platform {

Path ProgramFolder(const Path&)
{
    // The module's own path, in UTF-16 whatever the code page.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return std::filesystem::current_path();
        if (length < path.size()) {
            path.resize(length);
            return Path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

void AbortAsACrash()
{
    // The status Windows gives a program that ends itself on a fatal error.
    constexpr UINT kFastFail = 0xC0000409;
    std::signal(SIGABRT, [](int) { ::TerminateProcess(::GetCurrentProcess(), kFastFail); });
}

bool DisplayNamed(const std::string&)
{
    // Whatever the environment holds: Wine hands Unix variables to Windows programs, Windows
    // sets none of them.
    return true;
}

std::string DisplayUnreachable(const std::string&)
{
    return {};
}

bool DieWithParent(long)
{
    return true;
}

bool EndWithThisProcess(long long processId)
{
    // One job for the life of this process: its handle closes only when the process ends, and
    // the system then ends every child in it.
    static const HANDLE job = [] {
        const HANDLE created = ::CreateJobObjectW(nullptr, nullptr);
        if (created) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            ::SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                      sizeof limits);
        }
        return created;
    }();
    if (!job)
        return false;
    const HANDLE child =
        ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId));
    if (!child)
        return false;
    const bool assigned = ::AssignProcessToJobObject(job, child) != 0;
    ::CloseHandle(child);
    return assigned;
}

long ParentProcessId()
{
    const DWORD self = ::GetCurrentProcessId();
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    long parent = 0;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == self) {
            parent = long(entry.th32ParentProcessID);
            break;
        }
    ::CloseHandle(snapshot);
    return parent;
}

}  // namespace platform
