#pragma once

// The names of the files a frame works with, in the program folder: what the decompressor and
// the editor agree on, as Qt strings for the editor's side.

#include "RunningProgram.h"
#include "StagingProtocol.h"

#include <QDir>
#include <QString>

#include <chrono>
#include <string_view>

namespace Process {

inline QString FromProtocol(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}
inline const QString kWorkingCopyName = FromProtocol(protocol::kWorkingCopyName);
inline const QString kCompletionFlagName = FromProtocol(protocol::kCompletionFlagName);
inline const QString kFolderLockName = FromProtocol(protocol::kFolderLockName);
inline const QString kPartialWorkingCopyName =
    kWorkingCopyName + FromProtocol(protocol::kPartialSuffix);

// How long a working file another program holds for a moment (a scanner opening what the
// decompressor wrote) is waited for before it counts as one that cannot be removed.
inline constexpr std::chrono::milliseconds kHeldFileWait{5000};

// The decompressor's file, with the system's program suffix.
inline const QString kDecompressorFileName =
    QString::fromStdString(platform::ProgramFileName(protocol::kDecompressorName));

inline QString DecompressorPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(kDecompressorFileName);
}

}  // namespace Process
