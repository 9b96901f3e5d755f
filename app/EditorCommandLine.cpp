#include "EditorCommandLine.h"

namespace app {

Process::Result<EditorStart> ParseEditorArguments(const QStringList& args)
{
    EditorStart start;
    QString wrong;  // why the words cannot be taken
    bool operandsOnly = false;
    for (const QString& word : args) {
        if (!operandsOnly && word == QLatin1String("--")) {
            operandsOnly = true;
        } else if (!operandsOnly &&
                   (word == QLatin1String("-h") || word == QLatin1String("--help"))) {
            return EditorStart{EditorStart::Action::Help, {}};
        } else if (!operandsOnly &&
                   (word == QLatin1String("-V") || word == QLatin1String("--version"))) {
            return EditorStart{EditorStart::Action::Version, {}};
        } else if (!operandsOnly && word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            wrong = QStringLiteral("unknown option \"%1\"").arg(word);
        } else if (start.stateFile.isEmpty() && wrong.isEmpty()) {
            start.stateFile = word;
        } else if (wrong.isEmpty()) {
            wrong = QStringLiteral("one state file at a time, not also \"%1\"").arg(word);
        }
    }
    if (!wrong.isEmpty())
        return Process::Outcome::failure(Process::ErrorKind::WrongWords, wrong);
    return start;
}

QString EditorUsage()
{
    return QStringLiteral(
        "Usage: cindral-editor [--] [STATE]\n"
        "       cindral-editor -h | --help | -V | --version\n"
        "\n"
        "Opens the editor window; with STATE, loads that state at start as File > Load does.\n"
        "cindral-party(1) shows and changes the party without a window.\n");
}

}  // namespace app
