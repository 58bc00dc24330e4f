// The hex form in which the Windows host program prints bytes and the Linux
// driver reads them: upper-case digits without spaces, "-" for no bytes.
#ifndef ZOLVO_TESTS_WIN32_WIRE_HEX_H
#define ZOLVO_TESTS_WIN32_WIRE_HEX_H

#include <string>

namespace wirehex {

inline std::string encode(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

inline std::string decode(const std::string& text) {
    std::string out;
    if (text == "-") return out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return out;
}

}  // namespace wirehex

#endif
