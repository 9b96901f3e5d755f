#pragma once

// Replacing a file's bytes so that it is at every moment either the old file or the new one.

#include "Outcome.h"

#include <QByteArray>
#include <QString>

namespace Process {

// The file exists, is no folder, and is not marked read-only. Renaming over a file would bypass
// its read-only mark, so the mark is honoured here; the owner's permission bits count even for
// a user (root) whom the system would let write.
Outcome CheckReplaceable(const QString& path);

// Writes `bytes` beside the file at `path` (following a link to its target), flushes them to
// the disk and renames them over the file. The new file keeps the old one's mode, owner, group
// (where this process may set them) and extended attributes. On failure the file is left as it
// was and the message names it and the cause. A file that does not exist yet is created.
Outcome ReplaceFileContents(const QString& path, const QByteArray& bytes);

// The same with the first `size` bytes of the open file `source` as the new contents, copied
// by the kernel where it can (no pass through this process's memory).
Outcome ReplaceFileFrom(const QString& path, int source, qint64 size);

}  // namespace Process
