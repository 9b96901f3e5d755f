#pragma once

// Where a frame works. The decompressor writes its files into its own folder, so that folder
// must be writable, and by this user alone: the portable folder and the build tree are. An
// installed copy (under /usr, /opt, in an image) is not, nor is a folder other users may write
// (they could swap the image after the flag); there a frame stages in a folder of the user's
// own, running a private copy of the installed decompressor, and the protocol stays exactly as
// it is.

#include "Outcome.h"

#include <QString>
#include <QStringList>

namespace Process {

// The folder that holds the decompressor for a program in `programDir`: beside the program
// (the portable folder, the build tree), else "../libexec/cindral-editor" (an install).
QString FindDecompressorFolder(const QString& programDir);

// The per-user folders tried, in order: "$XDG_RUNTIME_DIR/cindral-editor" where that exists,
// then "cindral-editor" in the user's cache folder ($XDG_CACHE_HOME, else ~/.cache). A variable
// that is not an absolute path is ignored, as the XDG rules say.
QStringList UserStagingFolders();

// `decompressorFolder` when it is writable and nobody else may write it; else the first
// per-user folder that is a real folder of this user's alone and can hold and run a private
// copy of the decompressor. The message of a failure names every folder tried and why it would
// not do.
Result<QString> ResolveStagingFolder(const QString& decompressorFolder);

// Puts a private copy of the decompressor in `decompressorFolder` into `stagingFolder`, unless
// one with the same bytes is there (after an upgrade it differs). Run only under the staging
// folder's lock: two programs starting at once then never replace the copy under each other.
// Nothing to do where the two folders are one.
Outcome RefreshDecompressorCopy(const QString& decompressorFolder, const QString& stagingFolder);

}  // namespace Process
