// Arbitrary bytes through split and the code page conversions.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codepage.h"
#include "fuzz_support.h"
#include "text_split.h"

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Pieces of `text` between non-overlapping occurrences of `separator`, left to right.
size_t expectedPieces(const std::string& text, const std::string& separator) {
    size_t count = 1;
    for (size_t pos = text.find(separator); pos != std::string::npos;
         pos = text.find(separator, pos + separator.size())) {
        ++count;
    }
    return count;
}

void checkSplit(const std::string& text, const std::string& separator) {
    const std::vector<std::string> pieces = zolvo_sdk::split(text, separator);
    FUZZ_CHECK(!pieces.empty());
    if (separator.empty()) {
        FUZZ_CHECK(pieces.size() == 1 && pieces[0] == text);
        return;
    }
    // The pieces joined by the separator give the text back, none is lost.
    std::string joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) joined += separator;
        joined += pieces[i];
    }
    FUZZ_CHECK(joined == text);
    FUZZ_CHECK(pieces.size() == expectedPieces(text, separator));
}

// Removes U+E0000 to U+E007F (UTF-8 F3 A0 80 80 to F3 A0 81 BF) from valid UTF-8.
std::string withoutTagCharacters(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (i + 3 < utf8.size() && static_cast<unsigned char>(utf8[i]) == 0xF3 &&
            static_cast<unsigned char>(utf8[i + 1]) == 0xA0 &&
            (static_cast<unsigned char>(utf8[i + 2]) & 0xFE) == 0x80) {
            i += 3;
            continue;
        }
        out += utf8[i];
    }
    return out;
}

void checkConversions(const std::string& bytes) {
    const std::string gbk(bytes.c_str());  // the texts end at their first NUL
    const std::string utf8 = zolvo_sdk::ansiToUtf8(bytes);
    FUZZ_CHECK(fuzz::isValidUtf8(utf8));
    FUZZ_CHECK(utf8.find('\0') == std::string::npos);
    FUZZ_CHECK(utf8.size() <= 3 * gbk.size());
    FUZZ_CHECK(utf8.empty() == gbk.empty());
    bool ascii = true;
    for (unsigned char c : gbk) ascii = ascii && c < 0x80;
    if (ascii) FUZZ_CHECK(utf8 == gbk);
    // A GBK text that converted without replacement comes back unchanged.
    if (utf8.find(kReplacement) == std::string::npos) {
        FUZZ_CHECK(zolvo_sdk::utf8ToAnsi(utf8) == gbk);
    }

    // The other way, from arbitrary bytes: never a NUL, ASCII kept as it is.
    const std::string back = zolvo_sdk::utf8ToAnsi(bytes);
    FUZZ_CHECK(back.find('\0') == std::string::npos);
    FUZZ_CHECK(back.size() <= gbk.size());
    // Valid UTF-8 of characters GBK holds survives the round trip. glibc skips
    // Unicode tag characters (U+E0000 to U+E007F) silently instead of replacing
    // them, so they are not expected back.
    if (fuzz::isValidUtf8(gbk) && back.find('?') == std::string::npos) {
        FUZZ_CHECK(zolvo_sdk::ansiToUtf8(back) == withoutTagCharacters(gbk));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // First byte: the separator's length (0 to 3); then the separator; then the text.
    if (size == 0) return 0;
    const size_t sepLength = data[0] % 4;
    if (size < 1 + sepLength) return 0;
    const std::string separator(reinterpret_cast<const char*>(data + 1), sepLength);
    const std::string text(reinterpret_cast<const char*>(data + 1 + sepLength),
                           size - 1 - sepLength);
    checkSplit(text, separator);
    checkSplit(text, "&");
    checkConversions(text);
    return 0;
}
