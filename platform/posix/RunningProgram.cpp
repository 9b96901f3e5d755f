#include "RunningProgram.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace platform {

Path ProgramFolder(const Path& argv0)
{
    std::error_code ec;
    if (argv0.native().find('/') != std::string::npos) {
        auto started = std::filesystem::absolute(argv0, ec);
        if (!ec)
            return started.parent_path();
    }
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path();
    return std::filesystem::current_path(ec);
}

bool DieWithParent(long parent)
{
#if defined(__linux__)
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    // Asked after the request: a parent that died before it was made is told by the new parent.
    return long(::getppid()) == parent;
}

void AbortAsACrash()
{
    // SIGABRT already ends the program as a crash.
}

void EndWithThisProcess(long long) {}

std::string ProgramFileName(std::string_view name)
{
    return std::string(name);
}

bool DisplayNamed(const std::string& qtPlatform)
{
    if (!qtPlatform.empty() && qtPlatform.rfind("xcb", 0) != 0 &&
        qtPlatform.rfind("wayland", 0) != 0)
        return true;
    const auto named = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value && *value;
    };
    return named("DISPLAY") || named("WAYLAND_DISPLAY");
}

std::string DisplayUnreachable(const std::string& qtPlatform)
{
    // libwayland looks for a display named without a path in XDG_RUNTIME_DIR and, where that is
    // unset, says so on a line of its own before Qt gives up. Only where Wayland is the one
    // platform Qt will try: asked for alone, or the only display named.
    const auto value = [](const char* variable) {
        const char* set = std::getenv(variable);
        return std::string(set ? set : "");
    };
    const std::string wayland = value("WAYLAND_DISPLAY");
    const bool onlyWayland = qtPlatform.empty() ? value("DISPLAY").empty() && !wayland.empty()
                                                : qtPlatform.rfind("wayland", 0) == 0 &&
                                                      qtPlatform.find(';') == std::string::npos;
    if (!onlyWayland || wayland.rfind('/', 0) == 0 || !value("XDG_RUNTIME_DIR").empty())
        return {};
    return "the Wayland display \"" + (wayland.empty() ? std::string("wayland-0") : wayland) +
           "\" is looked for in XDG_RUNTIME_DIR, which is not set";
}

bool TellUser(std::string_view text, bool asError)
{
    std::FILE* stream = asError ? stderr : stdout;
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
           std::fflush(stream) == 0 && !std::ferror(stream);
}

void ConsoleTakesUtf8() {}  // a terminal takes the locale's encoding, UTF-8 on our systems

}  // namespace platform
