#pragma once

// Replacing a file's bytes so that it is at every moment either the old file or the new one.

#include "Outcome.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace Process {

// Which file a name leads to, and whether anyone wrote it since: two stamps of one file are
// equal until it is written, truncated or replaced.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampOfPath(const QString& path);  // following links
std::optional<FileStamp> StampOfOpenFile(int fd);

// The file exists, is no folder, and is not marked read-only. Renaming over a file would bypass
// its read-only mark, so the mark is honoured here; the owner's permission bits count even for
// a user (root) whom the system would let write.
Outcome CheckReplaceable(const QString& path);

// Writes the new contents into the descriptor; false with errno set when it cannot.
using Fill = std::function<bool(int fd)>;
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
Outcome ReplaceFileContents(const QString& path, const QByteArray& bytes);

// The whole file, from an open descriptor or a path (following links); nothing when it cannot
// be read whole.
std::optional<QByteArray> ReadWholeFile(int fd);
std::optional<QByteArray> ReadWholeFile(const QString& path);

// Copies the first `size` bytes of `from` to the current position of `to`, in the kernel where
// it can (no pass through this process's memory). False with errno set on failure.
bool CopyRange(int from, int to, qint64 size);

// Copies all of `from` to `to` while making sure nobody writes it meanwhile:
// ErrorKind::ChangedByAnotherProgram when its stamp moved during the copy (the copy is then not
// what the file held at any moment), ErrorKind::Io with the cause when the copy failed.
Outcome CopyStable(int from, int to);

// A name for a temporary file beside `fileName` that fits the system's limit of 255 bytes
// however long `fileName` is: a dot, its start, `tag` and `suffix`.
QByteArray TemporaryName(const QByteArray& fileName, const QByteArray& tag,
                         const QByteArray& suffix);

}  // namespace Process
