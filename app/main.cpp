#include "app/CConverterApp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    CConverterApp theApp;
    theApp.InitInstance();
    return 0;
}
