// cindral-party: shows and changes the party of a state file without a window.

#include "Commands.h"
#include "StagingFolder.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    // A reader that went away is a write error like any other: one line and exit status 1,
    // not a silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The decompressor lives beside this program, or in the install's libexec folder.
    return cli::Run(app.arguments().mid(1),
                    Process::FindDecompressorFolder(QCoreApplication::applicationDirPath()), out,
                    err);
}
