#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace cli {

enum ExitStatus { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// Runs cindral-party with `args` (without the program name), using the decompressor in
// `programFolder`. Returns the exit status.
int Run(const QStringList& args, const QString& programFolder, QTextStream& out, QTextStream& err);

}  // namespace cli
