// cindral-party: shows and changes the party of a state file without a window.

#include "Commands.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The decompressor and the working files live beside this program, as for the editor.
    return cli::Run(app.arguments().mid(1), QCoreApplication::applicationDirPath(), out, err);
}
