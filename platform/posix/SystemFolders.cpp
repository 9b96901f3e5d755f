#include "Shared.h"

#include <cstdlib>

namespace platform {
namespace {

// $HOME, or the root where it is not set (as Qt's home path has it).
Path Home()
{
    const Path home = EnvironmentPath("HOME");
    return home.empty() ? Path("/") : home;
}

}  // namespace

Path EnvironmentPath(const char* name)
{
    const char* value = std::getenv(name);
    return value ? Path(value) : Path();
}

Path SystemDataFolder()
{
    return Home() / ".local/share";
}

Path SystemCacheFolder()
{
    return Home() / ".cache";
}

}  // namespace platform
