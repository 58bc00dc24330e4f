// Translation lookup of the main window's texts.
//
// The generated form and the window itself look every text up in the context
// "MainWindow", the class that shows them (uic is told to call mainWindowTr
// instead of using the form class's own name as the context).
#ifndef ZOLVO_DEMO_TRANSLATE_H
#define ZOLVO_DEMO_TRANSLATE_H

#include <QCoreApplication>
#include <QString>

inline QString mainWindowTr(const char *text, const char *comment = nullptr)
{
    return QCoreApplication::translate("MainWindow", text, comment);
}

#endif  // ZOLVO_DEMO_TRANSLATE_H
