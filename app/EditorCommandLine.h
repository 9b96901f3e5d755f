#pragma once

// The words cindral-editor takes: a state file to load at start, and the usual -h and -V.

#include <QString>
#include <QStringList>

namespace app {

struct EditorStart {
    enum class Action { Run, Help, Version, Wrong };
    Action action = Action::Run;
    QString stateFile;  // empty: start without a state
    QString error;      // for Wrong
};

// `args` without the program name, once Qt has taken its own options.
EditorStart ParseEditorArguments(const QStringList& args);
QString EditorUsage();

}  // namespace app
