#pragma once

// Where a frame works. The decompressor writes its files into its own folder, so that folder
// must be writable: the portable folder and the build tree are. An installed copy (under /usr,
// /opt, in an image) is not; there a frame stages in a folder of the user's own, running a
// private copy of the installed decompressor, and the protocol stays exactly as it is.

#include "Outcome.h"

#include <QString>
#include <QStringList>

namespace Process {

// The folder that holds the decompressor for a program in `programDir`: beside the program
// (the portable folder, the build tree), else "../libexec/cindral-editor" (an install).
QString FindDecompressorFolder(const QString& programDir);

// The per-user folders tried, in order: "$XDG_RUNTIME_DIR/cindral-editor" where that exists,
// then "cindral-editor" in the user's cache folder.
QStringList UserStagingFolders();

// `decompressorFolder` when it is writable; else the first per-user folder that can hold and
// run a private copy of the decompressor, refreshed when the installed one changes. The
// message of a failure names every folder tried and why it would not do.
Result<QString> ResolveStagingFolder(const QString& decompressorFolder);

}  // namespace Process
