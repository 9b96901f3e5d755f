#include "Shared.h"
#include "SharedWin.h"

#include <cstdlib>

#include <shlobj.h>

namespace platform {
namespace {

// The user's local application data (C:\Users\<name>\AppData\Local); empty if Windows cannot
// tell it.
Path LocalAppData()
{
    PWSTR folder = nullptr;
    Path path;
    if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY, nullptr, &folder) ==
        S_OK)
        path = Path(folder);
    ::CoTaskMemFree(folder);
    return path;
}

}  // namespace

Path EnvironmentPath(const char* name)
{
    const std::wstring wide(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = ::_wgetenv(wide.c_str());
    return value ? Path(value) : Path();
}

Path SystemDataFolder()
{
    return LocalAppData();
}

// Below the local application data, where Qt places a cache too.
Path SystemCacheFolder()
{
    return LocalAppData() / L"cache";
}

}  // namespace platform
