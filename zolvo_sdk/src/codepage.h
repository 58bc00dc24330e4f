// The ANSI code page layer. Host texts arrive in the ANSI code page (GBK on the
// target systems); the library's own messages are GBK bytes whatever that code
// page is. Two implementations, one per system, chosen by the build:
// codepage_iconv.cpp (iconv; the ANSI code page is GBK there) and
// codepage_win32.cpp (MultiByteToWideChar / WideCharToMultiByte).
#ifndef ZOLVO_SDK_CODEPAGE_H
#define ZOLVO_SDK_CODEPAGE_H

#include <string>

namespace zolvo_sdk {

// ANSI code page text, up to its first NUL, to UTF-8. Never fails: bytes that
// do not map are replaced, an empty text gives an empty text.
std::string ansiToUtf8(const std::string& text);

// UTF-8 text, up to its first NUL, to the ANSI code page.
std::string utf8ToAnsi(const std::string& text);

// UTF-8 text, up to its first NUL, to GBK (code page 936), whatever the ANSI
// code page is.
std::string utf8ToGbk(const std::string& text);

}  // namespace zolvo_sdk

#endif
