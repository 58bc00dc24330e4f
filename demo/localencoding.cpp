#include "localencoding.h"

#include <QByteArray>
#include <QFile>
#include <QTextCodec>

QTextCodec *ansiCodec()
{
    static QTextCodec *const codec = [] {
        QTextCodec *gbk = QTextCodec::codecForName("GBK");
        return gbk ? gbk : QTextCodec::codecForLocale();
    }();
    return codec;
}

QTextCodec *hostCodec()
{
#if defined(Q_OS_WIN)
    // Qt's locale codec on Windows is the system's ANSI code page (CP_ACP),
    // the code page in which the library reads what it is given.
    return QTextCodec::codecForLocale();
#else
    return ansiCodec();
#endif
}

std::string toAnsi(const QString &text)
{
    const QByteArray bytes = hostCodec()->fromUnicode(text);
    return std::string(bytes.constData());
}

bool fitsAnsi(const QString &text)
{
    const QString upToNul = text.left(text.indexOf(QChar(0)));
    // Both tests: Qt's GBK codec counts what it cannot convert, while the
    // Windows ANSI codec counts nothing and maps a character it lacks to "?"
    // or to a look-alike (best fit), which the way back shows.
    QTextCodec::ConverterState state;
    const QByteArray bytes = hostCodec()->fromUnicode(upToNul.constData(), upToNul.size(), &state);
    return state.invalidChars == 0 && hostCodec()->toUnicode(bytes) == upToNul;
}

QString fromAnsi(const std::string &bytes)
{
    return ansiCodec()->toUnicode(bytes.c_str());
}

std::string toLibraryPath(const QString &path)
{
#if defined(Q_OS_WIN)
    // Qt opens files by their UTF-16 names; the C runtime's narrow calls take
    // the ANSI code page.
    return toAnsi(path);
#else
    // A path is bytes in the file system's encoding, which Qt's local 8-bit
    // encoding follows: the bytes Qt itself opens the file with.
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData());
#endif
}

bool fitsLibraryPath(const QString &path)
{
#if defined(Q_OS_WIN)
    return fitsAnsi(path);
#else
    (void)path;
    return true;
#endif
}
