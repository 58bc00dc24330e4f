// ANSI code page layer on Windows: MultiByteToWideChar / WideCharToMultiByte,
// through UTF-16. Host texts are in the ANSI code page (CP_ACP); the library's
// own messages are made with code page 936 named explicitly, so they are GBK
// whatever the system's ANSI code page is.
#include "codepage.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace zolvo_sdk {

namespace {

constexpr UINT kGbkCodePage = 936;

// `text` up to its first NUL, from code page `from` to UTF-16 and on to code
// page `to`. No flags: bytes or characters that do not map become what the
// system's default conversion makes of them; nothing is refused. When a call
// fails, the zero-filled buffers make the result whatever was converted so far
// (the empty text for a failure of the first call).
std::string convert(UINT from, UINT to, const std::string& text) {
    const char* input = text.c_str();
    const int inputLength = static_cast<int>(std::strlen(input));
    if (inputLength == 0) return std::string();

    // UTF-16 units of the text, its NUL included.
    const int wideCount = MultiByteToWideChar(from, 0, input, -1, nullptr, 0);
    if (wideCount <= 0) return std::string();
    std::vector<wchar_t> wide(static_cast<size_t>(wideCount) + 1, L'\0');
    MultiByteToWideChar(from, 0, input, inputLength, wide.data(), wideCount);

    // Bytes of the converted text, its NUL included.
    const int byteCount = WideCharToMultiByte(to, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (byteCount <= 0) return std::string();
    std::vector<char> bytes(static_cast<size_t>(byteCount) + 1, '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideCount, bytes.data(), byteCount, nullptr, nullptr);
    return std::string(bytes.data());
}

}  // namespace

std::string ansiToUtf8(const std::string& text) { return convert(CP_ACP, CP_UTF8, text); }

std::string utf8ToAnsi(const std::string& text) { return convert(CP_UTF8, CP_ACP, text); }

std::string utf8ToGbk(const std::string& text) { return convert(CP_UTF8, kGbkCodePage, text); }

}  // namespace zolvo_sdk
