// Starts a program under Wine as Windows would start it, where Wine differs:
// - with the environment Windows gives it: Wine hands the Unix variables to Windows programs and
//   Windows sets none of them, so they are removed here first (Wine's own side keeps them, and
//   with them its display);
// - with --from-a-prompt, as a command prompt starts a window program typed at it: on a console
//   of its own and with no standard handles (Wine would hand over the console's, which hides a
//   program that never attaches to it). What reached the console is then printed (under Wine a
//   console may pass its text straight to this program's output instead).
//
//   windows_like [--from-a-prompt] PROGRAM [ARGUMENT...]
//
// Otherwise the program gets this one's standard handles. The exit status is the program's
// (125: it cannot start).

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

namespace {

// Variables only Unix sets: the display, the XDG folders, the home and temporary folders.
bool UnixOnly(const std::wstring& name)
{
    for (const wchar_t* unix : {L"DISPLAY", L"WAYLAND_DISPLAY", L"HOME", L"TMPDIR"})
        if (::CompareStringOrdinal(name.c_str(), -1, unix, -1, TRUE) == CSTR_EQUAL)
            return true;
    return ::CompareStringOrdinal(name.c_str(), std::min<int>(int(name.size()), 4), L"XDG_", 4,
                                  TRUE) == CSTR_EQUAL;
}

void RemoveUnixVariables()
{
    std::vector<std::wstring> names;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
        const std::wstring text(entry);
        // Entries such as "=C:=C:\" name a drive's folder: never Unix's.
        const std::size_t equals = text.find(L'=', 1);
        if (equals != std::wstring::npos && UnixOnly(text.substr(0, equals)))
            names.push_back(text.substr(0, equals));
    }
    ::FreeEnvironmentStringsW(block);
    for (const std::wstring& name : names)
        ::SetEnvironmentVariableW(name.c_str(), nullptr);
}

// The argument as a command line takes it: as it is where it needs no quotes (cmd reads its
// own switches only so), else quoted, with quotes and the backslashes before them escaped as the
// C runtime reads them back.
std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

void Write(HANDLE out, const std::wstring& text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(std::size_t(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    DWORD written = 0;
    ::WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

// The console's lines, trailing blanks and empty lines at the end left out.
std::wstring ConsoleText()
{
    const HANDLE screen =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (screen == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(screen, &info))
        return {};
    std::wstring text, line(std::size_t(info.dwSize.X), L' ');
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(screen, line.data(), DWORD(line.size()), {0, row}, &read);
        const std::size_t end = line.find_last_not_of(L' ', read ? read - 1 : 0);
        text += (end == std::wstring::npos ? std::wstring() : line.substr(0, end + 1)) + L"\n";
    }
    ::CloseHandle(screen);
    while (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\n\n") == 0)
        text.pop_back();
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const bool fromAPrompt = argc > 1 && std::wstring(argv[1]) == L"--from-a-prompt";
    const int first = fromAPrompt ? 2 : 1;
    if (argc <= first)
        return 125;
    RemoveUnixVariables();
    std::wstring command = Quoted(argv[first]);
    for (int i = first + 1; i < argc; ++i)
        command += L" " + Quoted(argv[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (fromAPrompt) {
        // A console of its own, as a prompt has, with nothing on it yet.
        ::FreeConsole();
        if (!::AllocConsole())
            return 125;
    } else {
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION started{};
    // A program named without a folder is looked for as a prompt looks for it.
    const bool named = std::wstring(argv[first]).find_first_of(L"\\/") != std::wstring::npos;
    if (!::CreateProcessW(named ? argv[first] : nullptr, command.data(), nullptr, nullptr,
                          !fromAPrompt, 0, nullptr, nullptr, &startup, &started))
        return 125;
    ::WaitForSingleObject(started.hProcess, INFINITE);
    DWORD status = 125;
    ::GetExitCodeProcess(started.hProcess, &status);
    ::CloseHandle(started.hProcess);
    ::CloseHandle(started.hThread);
    if (fromAPrompt)
        Write(out, ConsoleText());
    return int(status);
}
