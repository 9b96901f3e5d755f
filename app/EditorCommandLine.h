#pragma once

// The words cindral-editor takes: a state file to load at start, and the usual -h and -V.

#include "Outcome.h"

#include <QString>
#include <QStringList>

namespace app {

struct EditorStart {
    enum class Action { Run, Help, Version };
    Action action = Action::Run;
    QString stateFile;  // empty: start without a state
};

// `args` without the program name, once Qt has taken its own options. Words it cannot take are
// an ErrorKind::WrongWords failure, unless help or version is asked for anywhere.
Process::Result<EditorStart> ParseEditorArguments(const QStringList& args);
QString EditorUsage();

}  // namespace app
