#include "RunningProgram.h"

#include "SharedWin.h"

#include <csignal>
#include <cstdlib>

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

void EndWithThisProcess(long long processId)
{
    // One job for the life of this process: its handle closes only when the process ends, and
    // the system then ends every child in it. A child that cannot be put in it (nothing to
    // tell the caller can change that) finishes its one state and ends by itself.
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
        return;
    const HANDLE child =
        ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId));
    if (!child)
        return;
    ::AssignProcessToJobObject(job, child);
    ::CloseHandle(child);
}

std::string ProgramFileName(std::string_view name)
{
    return std::string(name) + ".exe";
}

namespace {

// The handle this program's words go to: the one it was given (a file or a pipe, when
// redirected), or else the console of the prompt it was started from. A window program starts
// with none: it takes its parent's console. Null when nobody would read them (started from the
// desktop).
HANDLE OutputHandle(DWORD which)
{
    const HANDLE given = ::GetStdHandle(which);
    if (given && given != INVALID_HANDLE_VALUE && ::GetFileType(given) != FILE_TYPE_UNKNOWN)
        return given;
    // Refused as "access denied" when it has a console already (Wine gives one to a window
    // program started from a console program): that one is used.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) && ::GetLastError() != ERROR_ACCESS_DENIED)
        return nullptr;
    static const HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    return console == INVALID_HANDLE_VALUE ? nullptr : console;
}

}  // namespace

bool TellUser(std::string_view text, bool asError)
{
    const HANDLE out = OutputHandle(asError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (!out)
        return true;  // nowhere to write, as for any window program started from the desktop
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
        // A console shows UTF-16 whatever its code page; a newline alone ends a line there too.
        std::wstring wide(text.size(), L'\0');
        wide.resize(std::size_t(::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()),
                                                      wide.data(), int(wide.size()))));
        DWORD written = 0;
        return ::WriteConsoleW(out, wide.data(), DWORD(wide.size()), &written, nullptr) &&
               written == wide.size();
    }
    // A file or a pipe gets the bytes, with Windows' line ends.
    std::string bytes;
    for (char c : text)
        bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
    DWORD written = 0;
    return ::WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void ConsoleTakesUtf8()
{
    static UINT before = 0;
    if (before != 0 || !::GetConsoleWindow())
        return;
    before = ::GetConsoleOutputCP();
    if (before == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8))
        return;
    std::atexit([] { ::SetConsoleOutputCP(before); });
}

}  // namespace platform
