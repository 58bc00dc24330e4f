// The ANSI code page layer. Host texts arrive in the ANSI code page, which is
// GBK (CP936) here; the library's own messages are GBK bytes too.
#ifndef ZOLVO_SDK_CODEPAGE_H
#define ZOLVO_SDK_CODEPAGE_H

#include <string>

namespace zolvo_sdk {

// ANSI code page (GBK) text, up to its first NUL, to UTF-8. Never fails: bytes
// that do not map are replaced, an empty text gives an empty text.
std::string ansiToUtf8(const std::string& text);

// UTF-8 text to the ANSI code page (GBK).
std::string utf8ToAnsi(const std::string& text);

// {"code":"<code>","msg":"<msg>"} with `msgUtf8` (readable in the source) as GBK bytes.
std::string resultText(const char* code, const char* msgUtf8);

}  // namespace zolvo_sdk

#endif
