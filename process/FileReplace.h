#pragma once

// Replacing a file's bytes so that it is at every moment either the old file or the new one:
// any file (a state, the program's own). What a state adds (its lock, its backup, the other
// programs that write it) is LockedStateReplace's; the staging frame builds on that.

#include "File.h"
#include "Outcome.h"
#include "StatePath.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace Process {

using platform::FileStamp;

// The locked state file is not marked read-only, and a new file fits beside it. Renaming over a
// file would bypass its read-only mark, so the mark is honoured here; the owner's permission
// bits count even for a user (root) whom the system would let write.
Outcome CheckReplaceable(const CheckedState& state, const platform::File& locked);

// Writes the new contents into the new file; false when it cannot (the file's error says why).
using Fill = std::function<std::error_code(platform::File& file)>;
// Runs when the new contents are on the disk, just before they take the file's place; a failure
// stops the replace.
using LastCheck = std::function<Outcome()>;

// Writes the new contents beside the file at `path` (following a link to its target), flushes
// them to the disk and renames them over the file. The new file keeps the old one's mode, owner,
// group (where this process may set them) and extended attributes. On failure the file is left
// as it was and the message names it and the cause; no temporary file is left beside it, even
// when the program is killed, wherever the system allows an unnamed file. A file that does not
// exist yet is created. Returns the stamp of the new file. `noun` names the file in messages.
Result<FileStamp> ReplaceFile(const QString& path, const Fill& fill,
                              const LastCheck& lastCheck = {},
                              const QString& noun = QStringLiteral("state file"));

// How a replace ends in the folder: the new file renamed over the name, or swapped with what
// the name led to, which `inspect` then looks at (in the moment before the swap another
// program may have put its own file there) and answers with what to do with it.
enum class Replaced { Drop, PutBack };
using Inspect = std::function<Replaced(const platform::FileFacts& replaced)>;
struct ReplaceIn {
    const platform::Folder& folder;
    platform::Path name;
    QString shown;                                  // the path, for messages
    const platform::File* ownershipFrom = nullptr;  // none: a new file's permissions
    LastCheck lastCheck;
    Inspect inspect;         // none: a plain rename over the name
    bool mustBeNew = false;  // the name must still be free (ChangedByAnotherProgram if not)
};
// The same for the name in a folder held open. With `inspect`, where the system cannot swap
// two names, a plain rename is done and `swapped` says so (false).
Result<FileStamp> ReplaceFileIn(const ReplaceIn& where, const Fill& fill, bool* swapped = nullptr,
                                const QString& noun = QStringLiteral("state file"));
Outcome ReplaceFileContents(const QString& path, const QByteArray& bytes);

// The whole file, open or at a path (following links), or why it cannot be read whole
// (ErrorKind::Io; the message names the file where the path is given).
Result<QByteArray> ReadWholeFile(const platform::File& file);
Result<QByteArray> ReadWholeFile(const QString& path);
// The open file holds exactly `bytes` (false when it cannot be read).
bool SameBytes(const platform::File& file, const QByteArray& bytes);

// Copies all of `from` to `to` while making sure nobody writes it meanwhile:
// ErrorKind::ChangedByAnotherProgram when its stamp moved during the copy (the copy is then not
// what the file held at any moment), ErrorKind::Io with the cause when the copy failed.
Outcome CopyUnchanged(const platform::File& from, platform::File& to);

}  // namespace Process
