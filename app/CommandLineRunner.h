#pragma once

#include <QByteArray>
#include <QList>

class QTextStream;

// Norvale without its window: --help, --version and one conversion run (--convert) for
// scripts and timers. It reads no settings file and never meets a running Norvale; its run is the
// window's, without the window's dialogs.
class CommandLineRunner
{
public:
    enum ExitCode {
        kSuccess = 0,
        kDrawingFailed = 1, // or skipped for the target of another
        kUsageError = 2,
        kNoServer = 3,
        kOutputFailed = 4, // the report of --report or the standard output
    };

    // Whether the program's arguments are for the command line rather than the window: any
    // argument but the window's own Qt options (-platform and the like, with their values), so
    // that a drawing named without --convert is a usage error rather than a window.
    static bool Wants(int argc, char *argv[]);

    // aArgs as the program got them, the program first: bytes, as names of drawings need not be
    // UTF-8. Needs a QCoreApplication; prints each file's outcome and a summary to out, problems
    // to err.
    static int Run(const QList<QByteArray> &aArgs, QTextStream &out, QTextStream &err);
};
