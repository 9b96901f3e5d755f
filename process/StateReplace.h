#pragma once

// Puts new contents in the place of a state file that this program holds locked, so that
// nothing is lost on either side: the bytes it held are kept as a backup, and a write by
// another program that ignores the lock (the emulator saving in place) is never undone.

#include "AtomicReplace.h"
#include "FileLock.h"
#include "Outcome.h"

#include <QString>

#include <functional>

namespace Process {

// Checks that nobody wrote the state since `lock` was taken, takes a backup into
// `backupFolder` (none when it is empty), writes the new contents beside the state and, after
// one more look, renames them over it. If another program wrote the old file in the moment
// before the rename, its bytes are put back in the state's place (or, where that cannot be
// done, kept as a backup) and the result is ErrorKind::ChangedByAnotherProgram: the caller
// redoes its edit on the newest bytes. `beforeRename` runs between the last look and the
// rename, the moment no look can cover.
Outcome ReplaceLockedState(const QString& statePath, const platform::FileLock& lock,
                           const QString& backupFolder, const Fill& fill,
                           const std::function<void()>& beforeRename = {});

}  // namespace Process
