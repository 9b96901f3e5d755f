#include "UserFolders.h"

#include "Shared.h"

namespace platform {
namespace {

Path AbsoluteFromEnvironment(const char* name)
{
    const Path value = EnvironmentPath(name);
    return value.is_absolute() ? value : Path();
}

}  // namespace

Path UserDataFolder()
{
    const Path set = AbsoluteFromEnvironment("XDG_DATA_HOME");
    return set.empty() ? SystemDataFolder() : set;
}

Path UserCacheFolder()
{
    const Path set = AbsoluteFromEnvironment("XDG_CACHE_HOME");
    return set.empty() ? SystemCacheFolder() : set;
}

Path UserRuntimeFolder()
{
    return AbsoluteFromEnvironment("XDG_RUNTIME_DIR");
}

}  // namespace platform
