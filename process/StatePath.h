#pragma once

// Checks on a state path before anything is read, locked or removed, and the form in which a
// path appears in a message.

#include "File.h"
#include "Outcome.h"

#include <QString>

#include <system_error>

namespace Process {

// The path as a message shows it: native separators, and control characters (a newline in a
// file name, say) written as escapes so that a message stays one line.
QString ShownPath(const QString& path);

// The state must exist as a plain file this process can read, be reachable by exactly this
// name, and not be one of the program folder's own working files, its lock or the decompressor
// (which a frame removes or overwrites).
Outcome CheckStatePath(const QString& statePath, const QString& programFolder);

// A cause from the system's error number, as a message shows it.
QString SystemCause(int error);
QString SystemCause(const std::error_code& error);

// The path as the operating system takes it, and back.
platform::Path ToNative(const QString& path);
QString FromNative(const platform::Path& path);

}  // namespace Process
