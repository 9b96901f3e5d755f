// cindral-party: shows and changes the party of a state file without a window.

#include "Commands.h"
#include "StagingFolder.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The decompressor lives beside this program, or in the install's libexec folder.
    return cli::Run(app.arguments().mid(1),
                    Process::FindDecompressorFolder(QCoreApplication::applicationDirPath()), out,
                    err);
}
