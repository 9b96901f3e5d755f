// Starts the editor's window offscreen, as the program does, and exits once it is shown,
// printing the peak resident memory in KiB.

#include "Look.h"
#include "PartyState.h"
#include "frmEditor.h"

#include <QApplication>
#include <QTest>

#include <cstdio>

#include <sys/resource.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    forms::InstallFontSubstitutions();
    Process::PartyState party;
    forms::frmEditor editor(party, QApplication::applicationDirPath());
    editor.show();
    if (!QTest::qWaitForWindowExposed(&editor))
        return 1;
    QApplication::processEvents();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", usage.ru_maxrss);
    return 0;
}
