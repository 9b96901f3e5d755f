// Unvell: turns an emulator save state into its plain image for the editor.
//
//   Unvell -dec <state path>
//
// writes "newstate.dec" beside this program and then creates "flag.unv".

#include "Decompress.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr const char* kUsage =
    "Usage: Unvell -dec <state path>\n"
    "\n"
    "Reads an emulator save state (gzip, RZIP or already plain), checks that it is a\n"
    "snapshot this editor can edit, and writes its plain image to \"newstate.dec\" in\n"
    "this program's folder. Once that file is complete and closed it creates\n"
    "\"flag.unv\" there. On failure it writes neither file, prints one line naming the\n"
    "file and the cause, and exits with 1 (cannot read or write) or 3 (not a state).\n"
    "\n"
    "The words after -dec, joined by single spaces, form the path, so an unquoted\n"
    "path with spaces works too.\n";

std::filesystem::path ProgramFolder(const char* argv0)
{
    std::error_code ec;
#if defined(_WIN32)
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
    if (n > 0 && n < std::size(buffer))
        return std::filesystem::path(buffer).parent_path();
#else
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path();
#endif
    return std::filesystem::absolute(argv0, ec).parent_path();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return unvell::kExitOk;
    }
    if (argc < 3 || std::strcmp(argv[1], "-dec") != 0) {
        std::fputs(kUsage, stderr);
        return unvell::kExitUsage;
    }
    std::string path = argv[2];
    for (int i = 3; i < argc; ++i)
        path.append(" ").append(argv[i]);

    const auto outcome = unvell::DecompressToFolder(path, ProgramFolder(argv[0]));
    if (outcome.exitCode != unvell::kExitOk)
        std::fprintf(stderr, "Unvell: %s: %s\n", path.c_str(), outcome.cause.c_str());
    return outcome.exitCode;
}
