#pragma once

// Checks on a state path before anything is read, locked or removed, and the form in which a
// path appears in a message.

#include "File.h"
#include "Folder.h"
#include "Outcome.h"

#include <QString>

#include <memory>
#include <system_error>

namespace Process {

// The path as a message shows it: native separators, and control characters (a newline in a
// file name, say) written as escapes so that a message stays one line.
QString ShownPath(const QString& path);

// A state file as a command checks it once, at its start: the folder that holds the file, held
// open, the file's own name in it, which file that name led to, and the path as messages show
// it. A link given as the state is followed here, once, on purpose; every later step (locks,
// looks, the rename, a put-back, the backup) works through the folder and the name, so a link
// put in the state's place later is replaced like any other file, never followed.
struct CheckedState {
    std::shared_ptr<const platform::Folder> folder;
    platform::Path name;
    platform::FileStamp identity;  // device and inode of the file the name led to
    QString path;                  // the file's full path, links resolved
    QString shown;                 // the path as given, as a message shows it
};

// The state must exist as a plain file this process can read, be reachable by exactly this
// name, and not be one of the program folder's own working files, its lock or the decompressor
// (which a frame removes or overwrites).
Result<CheckedState> CheckStatePath(const QString& statePath, const QString& programFolder);
// The last of those checks alone, for a frame that moved to another program folder.
Outcome CheckNotWorkingFile(const CheckedState& state, const QString& programFolder);

// A cause from the system's error number, as a message shows it.
QString SystemCause(int error);
QString SystemCause(const std::error_code& error);

// The path as the operating system takes it, and back.
platform::Path ToNative(const QString& path);
QString FromNative(const platform::Path& path);

}  // namespace Process
