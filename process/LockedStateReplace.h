#pragma once

// Puts new contents in the place of a state file that this program holds locked, so that
// nothing is lost on either side: the bytes it held are kept as a backup, and a write by
// another program that ignores the lock (the emulator saving in place) is never undone.

#include "FileLock.h"
#include "FileReplace.h"
#include "Outcome.h"

#include <QString>

namespace Process {

// Checks that nobody wrote the state since `lock` was taken, names a backup into
// `backupFolder` (none when it is empty), writes the new contents beside the state and, after
// one more look, swaps them with it. If what comes out of the swap is not the file as it was
// locked (another program saved in place, or renamed its save there, in the moment before),
// that file goes straight back and the result is ErrorKind::ChangedByAnotherProgram once that
// program has finished: the caller redoes its edit on the newest bytes. Where no swap can be
// had, a plain rename and a look at the locked file after it do as well as they can.
Outcome ReplaceLockedState(const CheckedState& state, const platform::FileLock& lock,
                           const QString& backupFolder, const Fill& fill);

}  // namespace Process
