// The demo's two encodings of bytes that leave Qt.
//
// Texts that cross into the library travel in the Windows ANSI code page. The
// target systems run with code page 936. On Windows the demo hands the library
// its texts in the system's ANSI code page, which the library reads them in;
// elsewhere it uses GBK for it. The library's own texts are GBK on every
// system, and are decoded from GBK.
//
// File names are no such texts. Qt's local 8-bit encoding stays the system's,
// so that the file dialog lists and opens files by the names they have on disk,
// and the library gets an image's path as the bytes that open the file on the
// system the demo runs on.
#ifndef ZOLVO_DEMO_LOCALENCODING_H
#define ZOLVO_DEMO_LOCALENCODING_H

#include <string>

#include <QString>

class QTextCodec;

// The codec of the library's texts: GBK (Qt's locale codec on a Qt without GBK).
QTextCodec *ansiCodec();

// The codec of the texts given to the library: the system's ANSI code page on
// Windows, ansiCodec() elsewhere.
QTextCodec *hostCodec();

// `text` in the codec of hostCodec(), up to its first NUL.
std::string toAnsi(const QString &text);

// Whether toAnsi(text) holds `text` unchanged (up to its first NUL): every
// character has a form in hostCodec() that decodes back to it. A character
// the code page lacks would become "?" or another character on its way.
bool fitsAnsi(const QString &text);

// `bytes` up to their first NUL, decoded from the ANSI code page.
QString fromAnsi(const std::string &bytes);

// `path` as the library must get it to open the file with the C runtime: in
// the ANSI code page on Windows, in the file system's encoding elsewhere.
std::string toLibraryPath(const QString &path);

// Whether toLibraryPath(path) names the file unchanged: fitsAnsi on Windows;
// elsewhere always (the path goes as the bytes Qt opens the file by).
bool fitsLibraryPath(const QString &path);

#endif  // ZOLVO_DEMO_LOCALENCODING_H
