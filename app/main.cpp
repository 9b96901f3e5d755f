// Cindral I Editor: creates the application, the party the editor holds for the whole run,
// and the main window. It takes nothing from its command line.

#include "Look.h"
#include "PartyState.h"
#include "StagingFolder.h"
#include "frmEditor.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Qt aborts with advice to reinstall when no display can be reached; say plainly what is wrong.
bool HasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;  // offscreen, vnc and the like need no display
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fputs("cindral-editor: no display to show the window on (DISPLAY and WAYLAND_DISPLAY "
                   "are unset); cindral-party works without one.\n",
                   stderr);
        return EXIT_FAILURE;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cindral I Editor"));
    // Wayland shells find the window's icon through its desktop file.
    QGuiApplication::setDesktopFileName(QStringLiteral("cindral-editor"));
    forms::InstallFontSubstitutions();

    Process::PartyState party;
    // The decompressor lives beside the editor, or in the install's libexec folder.
    forms::frmEditor editor(party,
                            Process::FindDecompressorFolder(QApplication::applicationDirPath()));
    editor.show();
    return app.exec();
}
