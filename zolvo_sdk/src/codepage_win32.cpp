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
constexpr wchar_t kReplacement = 0xFFFD;

// Bytes [begin, end) of a multi-byte text in code page `from`, appended as
// UTF-16. No flags: whatever the system's conversion makes of them.
void appendWide(UINT from, const char* begin, const char* end, std::wstring& wide) {
    const int length = static_cast<int>(end - begin);
    if (length <= 0) return;
    const int count = MultiByteToWideChar(from, 0, begin, length, nullptr, 0);
    if (count <= 0) return;
    std::vector<wchar_t> buffer(static_cast<size_t>(count), L'\0');
    const int written = MultiByteToWideChar(from, 0, begin, length, buffer.data(), count);
    if (written > 0) wide.append(buffer.data(), static_cast<size_t>(written));
}

// Whether `lead` followed by `trail` is a double-byte character of code page
// `cp`, whose lead bytes the system names. GBK's trail bytes are written out
// here (40–7E, 80–FE); another double-byte code page is asked about the pair.
bool formsPair(UINT cp, unsigned char lead, unsigned char trail) {
    if (cp == kGbkCodePage)
        return (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFE);
    if (trail == 0) return false;
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t out[2];
    return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, pair, 2, out, 2) > 0;
}

// A text in code page `from` to UTF-16. In a double-byte code page, a lead
// byte that no trail byte follows (a cut or broken character) becomes one
// U+FFFD by this layer, and the byte after it is converted on its own: the
// system's own conversion may take that byte into the broken character (so
// "X\x81&" would lose its "&"), and is never given such a sequence.
std::wstring toWide(UINT from, const char* text, size_t length) {
    std::wstring wide;
    const char* const end = text + length;
    CPINFO info;
    const bool doubleByte = from != CP_UTF8 && GetCPInfo(from, &info) && info.MaxCharSize == 2;
    if (!doubleByte) {
        appendWide(from, text, end, wide);
        return wide;
    }
    const UINT cp = from == CP_ACP ? GetACP() : from;
    const char* run = text;  // start of the bytes not yet converted
    const char* p = text;
    while (p < end) {
        const unsigned char byte = static_cast<unsigned char>(*p);
        if (!IsDBCSLeadByteEx(cp, byte)) {
            ++p;
        } else if (p + 1 < end && formsPair(cp, byte, static_cast<unsigned char>(p[1]))) {
            p += 2;
        } else {
            appendWide(from, run, p, wide);
            wide += kReplacement;
            run = ++p;
        }
    }
    appendWide(from, run, end, wide);
    return wide;
}

// `text` up to its first NUL, from code page `from` to UTF-16 and on to code
// page `to`. Besides the broken characters above, bytes or characters that do
// not map become what the system's default conversion makes of them; nothing
// is refused. A failed call gives the empty text.
std::string convert(UINT from, UINT to, const std::string& text) {
    const char* input = text.c_str();
    const size_t inputLength = std::strlen(input);
    if (inputLength == 0) return std::string();

    const std::wstring wide = toWide(from, input, inputLength);
    if (wide.empty()) return std::string();
    const int wideLength = static_cast<int>(wide.size());
    const int byteCount =
        WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (byteCount <= 0) return std::string();
    std::vector<char> bytes(static_cast<size_t>(byteCount), '\0');
    const int written = WideCharToMultiByte(to, 0, wide.data(), wideLength, bytes.data(), byteCount,
                                            nullptr, nullptr);
    if (written <= 0) return std::string();
    // The text ends at its first NUL, whatever the conversion made.
    return std::string(bytes.data(), strnlen(bytes.data(), static_cast<size_t>(written)));
}

}  // namespace

std::string ansiToUtf8(const std::string& text) { return convert(CP_ACP, CP_UTF8, text); }

std::string utf8ToAnsi(const std::string& text) { return convert(CP_UTF8, CP_ACP, text); }

std::string utf8ToGbk(const std::string& text) { return convert(CP_UTF8, kGbkCodePage, text); }

}  // namespace zolvo_sdk
