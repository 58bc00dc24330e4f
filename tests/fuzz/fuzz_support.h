// Small helpers shared by the fuzz targets.
#ifndef ZOLVO_FUZZ_SUPPORT_H
#define ZOLVO_FUZZ_SUPPORT_H

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// An invariant that must hold for every input; a broken one is a finding.
#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace fuzz {

// The library logs each message and some requests on standard output; the
// fuzzer reports on standard error. Set ZOLVO_FUZZ_STDOUT=1 to keep the log.
inline void silenceStdout() {
    if (std::getenv("ZOLVO_FUZZ_STDOUT") != nullptr) return;
    std::fflush(stdout);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
}

// Well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
inline bool isValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        size_t n;
        unsigned min;
        unsigned cp;
        if (c < 0x80) {
            ++p;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) <= n) return false;
        for (size_t i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += n + 1;
    }
    return true;
}

// GBK text, up to its first NUL, as UTF-8: what the request functions must
// send where they convert. Written apart from the library's code page layer:
// one character at a time, ASCII as it is, every other character looked up
// alone in glibc's GBK table (one byte, else a lead and a trail byte); a byte
// that starts no character there becomes U+FFFD, and the text goes on at the
// next byte. (Qt's GBK codec, the rig's reference, is no reference for arbitrary
// bytes: it maps 0xFF and the user-defined areas to private-use characters and
// drops a lone lead byte at the end, where glibc's table has no character.)
inline std::string gbkToUtf8(const std::string& text) {
    static const iconv_t table = iconv_open("UTF-8", "GBK");
    if (table == reinterpret_cast<iconv_t>(-1)) std::abort();
    const std::string gbk(text.c_str());
    std::string utf8;
    size_t at = 0;
    while (at < gbk.size()) {
        if (static_cast<unsigned char>(gbk[at]) < 0x80) {
            utf8 += gbk[at++];
            continue;
        }
        size_t used = 0;
        for (size_t length = 1; length <= 2 && used == 0 && at + length <= gbk.size(); ++length) {
            char in[2];
            char out[8];
            gbk.copy(in, length, at);
            char* inPtr = in;
            char* outPtr = out;
            size_t inLeft = length, outLeft = sizeof out;
            iconv(table, nullptr, nullptr, nullptr, nullptr);
            if (iconv(table, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
                inLeft == 0 && outLeft < sizeof out) {
                utf8.append(out, sizeof out - outLeft);
                used = length;
            }
        }
        if (used == 0) {
            utf8 += "\xEF\xBF\xBD";
            used = 1;
        }
        at += used;
    }
    return utf8;
}

}  // namespace fuzz

#endif
