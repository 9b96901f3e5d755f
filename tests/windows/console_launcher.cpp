// Starts a program the way a command prompt does on Windows, and prints what it wrote to the
// prompt's console: under Wine a program otherwise writes straight to the Unix output it was
// started with, which hides a window program that never reaches its console.
//
//   console_launcher PROGRAM [ARGUMENT...]
//
// Prints what reached the console (under Wine a console may pass its text straight to the
// launcher's own output instead), then exits with the program's status (125: cannot start).

#include <string>

#include <windows.h>

namespace {

// The argument as a command line takes it (quoted, quotes and the backslashes before them
// doubled as the C runtime reads them back).
std::wstring Quoted(const std::wstring& argument)
{
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
    if (argc < 2) {
        Write(out, L"usage: console_launcher PROGRAM [ARGUMENT...]\n");
        return 125;
    }
    // A console of its own, as a command prompt has, with nothing on it yet.
    ::FreeConsole();
    if (!::AllocConsole()) {
        Write(out, L"console_launcher: no console could be made\n");
        return 125;
    }
    std::wstring command = Quoted(argv[1]);
    for (int i = 2; i < argc; ++i)
        command += L" " + Quoted(argv[i]);
    // As Windows starts a window program typed at a prompt: with no standard handles (Wine
    // would hand over the console's, which hides a program that never attaches to it).
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(argv[1], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
        Write(out, L"console_launcher: cannot start the program\n");
        return 125;
    }
    ::WaitForSingleObject(started.hProcess, INFINITE);
    DWORD status = 125;
    ::GetExitCodeProcess(started.hProcess, &status);
    ::CloseHandle(started.hProcess);
    ::CloseHandle(started.hThread);
    Write(out, ConsoleText());
    return int(status);
}
