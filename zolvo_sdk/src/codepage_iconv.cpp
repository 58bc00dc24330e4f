// ANSI code page layer over iconv (every system but Windows). The ANSI code
// page is GBK here. glibc's "GBK" maps every double-byte pair Windows' code page
// 936 maps except the 2149 pairs of GBK's user-defined areas, which it refuses
// (they read as U+FFFD); the single byte 0x80 (euro sign) is mapped.
#include "codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace zolvo_sdk {

namespace {

const char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

// One conversion direction, one iconv handle per thread (handles keep shift
// state and must not be shared between threads).
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of `input`. A byte sequence that does not map is replaced by
    // `replacement`, and conversion goes on after its first byte. Never fails.
    std::string convert(const char* input, size_t length, const char* replacement) {
        std::string out;
        if (length == 0) return out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset the shift state

        char* in = const_cast<char*>(input);
        size_t inLeft = length;
        char buffer[1024];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, sizeof buffer - outLeft);
            if (rc != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) continue;
            // EILSEQ: a sequence that does not map; EINVAL: a sequence cut off at
            // the end. Either way: one replacement, then go on after its first byte.
            out += replacement;
            ++in;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        // Flush any shift state (none for these encodings, but harmless).
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        return out;
    }

private:
    iconv_t cd_;
};

Converter& gbkToUtf8Converter() {
    thread_local Converter converter("UTF-8", "GBK");
    return converter;
}

Converter& utf8ToGbkConverter() {
    thread_local Converter converter("GBK", "UTF-8");
    return converter;
}

}  // namespace

std::string ansiToUtf8(const std::string& text) {
    // The text ends at its first NUL, as the host's C strings do.
    const size_t length = std::strlen(text.c_str());
    return gbkToUtf8Converter().convert(text.c_str(), length, kReplacementUtf8);
}

std::string utf8ToAnsi(const std::string& text) {
    const size_t length = std::strlen(text.c_str());
    return utf8ToGbkConverter().convert(text.c_str(), length, "?");
}

std::string utf8ToGbk(const std::string& text) { return utf8ToAnsi(text); }

}  // namespace zolvo_sdk
