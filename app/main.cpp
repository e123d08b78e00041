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
        return CommandLineRunner::Run(QCoreApplication::arguments(), out, err);
    }
    QApplication application(argc, argv);
    CConverterApp theApp;
    theApp.InitInstance();
    return 0;
}
