#include "app/CConverterApp.h"
#include "app/CommandLineRunner.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The command line needs no display, and leaves the settings and a running window alone.
    if (CommandLineRunner::Wants(argc, argv)) {
        QCoreApplication application(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        // Not QCoreApplication::arguments(), which turns a name that is not UTF-8 into another.
        QList<QByteArray> aArgs;
        for (int i = 0; i < argc; ++i)
            aArgs << QByteArray(argv[i]);
        return CommandLineRunner::Run(aArgs, out, err);
    }
    QApplication application(argc, argv);
    CConverterApp theApp;
    theApp.InitInstance();
    return 0;
}
