#pragma once

// Shared by the POSIX implementation's files only (what every system shares is in ../Shared.h).

#include "File.h"

#include <sys/stat.h>

namespace platform {

FileFacts FactsOfStat(const struct stat& st);

}  // namespace platform
