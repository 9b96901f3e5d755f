// Cindral I Editor: creates the application, the party the editor holds for the whole run,
// and the main window. It takes nothing from its command line.

#include "Look.h"
#include "PartyState.h"
#include "frmEditor.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cindral I Editor"));
    forms::InstallFontSubstitutions();

    Process::PartyState party;
    // The decompressor and the working files live beside the editor itself.
    forms::frmEditor editor(party, QApplication::applicationDirPath());
    editor.show();
    return app.exec();
}
