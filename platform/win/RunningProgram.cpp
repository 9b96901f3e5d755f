#include "RunningProgram.h"

#include "Internal.h"

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

void DieWithParent()
{
    // A child here is not killed with its parent; the editor waits for its decompressor.
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
