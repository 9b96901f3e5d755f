// Cindral I Editor: creates the application, the party the editor holds for the whole run,
// and the main window; loads the state named on the command line, if any.

#include "DisplayGuard.h"
#include "EditorCommandLine.h"
#include "Look.h"
#include "PartyState.h"
#include "RunningProgram.h"
#include "StagingFolder.h"
#include "frmEditor.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdlib>
#include <optional>

namespace {

// Help and version need no display, so they are answered before Qt looks for one.
std::optional<int> AnswerWithoutDisplay(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const auto start = app::ParseEditorArguments(args);
    if (!start)
        return std::nullopt;
    if (start.value().action == app::EditorStart::Action::Help)
        return platform::TellUser(app::EditorUsage().toStdString()) ? EXIT_SUCCESS : EXIT_FAILURE;
    if (start.value().action == app::EditorStart::Action::Version)
        return platform::TellUser("cindral-editor " CINDRAL_VERSION "\n") ? EXIT_SUCCESS
                                                                          : EXIT_FAILURE;
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = AnswerWithoutDisplay(argc, argv))
        return *answered;
    // Qt aborts with advice to reinstall when no display can be reached; say plainly what is
    // wrong.
    const std::string qtPlatform = qgetenv("QT_QPA_PLATFORM").toStdString();
    if (!platform::DisplayNamed(qtPlatform)) {
        platform::TellUser("cindral-editor: no display to show the window on (DISPLAY and "
                           "WAYLAND_DISPLAY are unset); cindral-party works without one.\n",
                           true);
        return EXIT_FAILURE;
    }
    if (const std::string reason = platform::DisplayUnreachable(qtPlatform); !reason.empty()) {
        platform::TellUser("cindral-editor: cannot open the display: " + reason + "\n", true);
        return EXIT_FAILURE;
    }
    std::optional<app::DisplayGuard> guard(std::in_place);
    QApplication app(argc, argv);
    guard.reset();
    QApplication::setApplicationName(QStringLiteral("Cindral I Editor"));
    // Wayland shells find the window's icon through its desktop file.
    QGuiApplication::setDesktopFileName(QStringLiteral("cindral-editor"));
    forms::InstallFontSubstitutions();

    // Qt has taken its own options (-platform and the like); the rest are the editor's.
    const auto parsed = app::ParseEditorArguments(app.arguments().mid(1));
    if (!parsed) {
        platform::TellUser("cindral-editor: " + parsed.failure().message().toStdString() +
                               "\nTry 'cindral-editor --help' for more information.\n",
                           true);
        return 2;
    }
    const app::EditorStart& start = parsed.value();

    Process::PartyState party;
    // The decompressor lives beside the editor, or in the install's libexec folder.
    forms::frmEditor editor(party,
                            Process::FindDecompressorFolder(QApplication::applicationDirPath()));
    editor.show();
    if (!start.stateFile.isEmpty()) {
        // As the open dialog would give it: a full path. Loaded once the window stands, so
        // that a message about the file has the window as its owner.
        const QString path = QFileInfo(start.stateFile).absoluteFilePath();
        QMetaObject::invokeMethod(
            &editor, [&editor, path] { editor.openStateFile(path); }, Qt::QueuedConnection);
    }
    return app.exec();
}
