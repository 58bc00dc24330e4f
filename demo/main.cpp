#include <QApplication>

#include "localencoding.h"
#include "mainwindow.h"

int main(int argc, char *argv[])
{
    useAnsiCodePage();
    QApplication application(argc, argv);
    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
