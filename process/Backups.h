#pragma once

// Backups of state files: before a state file is replaced, the bytes it held are kept in the
// user's data folder, grouped per state file, the newest kKeptBackups of each. A backup is a
// file of its own that nothing else writes, in folders only the user can write. Where they live
// and how they are named; the one taken for a replace; the listing and reading back.

#include "BackupListing.h"
#include "BackupNames.h"
#include "PendingBackup.h"
