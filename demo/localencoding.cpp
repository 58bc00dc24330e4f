#include "localencoding.h"

#include <QTextCodec>

void useAnsiCodePage()
{
    if (QTextCodec *gbk = QTextCodec::codecForName("GBK"))
        QTextCodec::setCodecForLocale(gbk);
}
