// Small helpers shared by the fuzz targets.
#ifndef ZOLVO_FUZZ_SUPPORT_H
#define ZOLVO_FUZZ_SUPPORT_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// An invariant that must hold for every input; a broken one is a finding.
#define FUZZ_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, \
                         #condition);                                                \
            std::abort();                                                            \
        }                                                                            \
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

}  // namespace fuzz

#endif
