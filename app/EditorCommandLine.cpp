#include "EditorCommandLine.h"

namespace app {

EditorStart ParseEditorArguments(const QStringList& args)
{
    EditorStart start;
    bool operandsOnly = false;
    for (const QString& word : args) {
        if (!operandsOnly && word == QLatin1String("--")) {
            operandsOnly = true;
        } else if (!operandsOnly &&
                   (word == QLatin1String("-h") || word == QLatin1String("--help"))) {
            return {EditorStart::Action::Help, {}, {}};
        } else if (!operandsOnly &&
                   (word == QLatin1String("-V") || word == QLatin1String("--version"))) {
            return {EditorStart::Action::Version, {}, {}};
        } else if (!operandsOnly && word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            start = {
                EditorStart::Action::Wrong, {}, QStringLiteral("unknown option \"%1\"").arg(word)};
        } else if (start.stateFile.isEmpty() && start.action == EditorStart::Action::Run) {
            start.stateFile = word;
        } else if (start.action == EditorStart::Action::Run) {
            start = {EditorStart::Action::Wrong,
                     {},
                     QStringLiteral("one state file at a time, not also \"%1\"").arg(word)};
        }
    }
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
