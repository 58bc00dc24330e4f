// The JSON result texts that the library makes up itself.
#ifndef ZOLVO_SDK_RESULT_TEXT_H
#define ZOLVO_SDK_RESULT_TEXT_H

#include <string>

namespace zolvo_sdk {

// {"code":"<code>","msg":"<msg>"} with `msgUtf8` (readable in the source) as GBK
// bytes, whatever the system's ANSI code page is.
std::string resultText(const char* code, const char* msgUtf8);

}  // namespace zolvo_sdk

#endif
