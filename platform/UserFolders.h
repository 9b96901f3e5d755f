#pragma once

// The user's own folders for what this program keeps, where the system places them. An absolute
// XDG_DATA_HOME, XDG_CACHE_HOME or XDG_RUNTIME_DIR is taken on every system (a portable setup);
// a relative one is ignored, as the XDG rules say.

#include "File.h"

namespace platform {

// For the data the user keeps (the backups): ~/.local/share, or the local application data.
Path UserDataFolder();
// For files that may be made again (the working files): ~/.cache, or the local application
// data's cache.
Path UserCacheFolder();
// For files that last one session, removed when the user logs out; empty where there is none.
Path UserRuntimeFolder();

}  // namespace platform
