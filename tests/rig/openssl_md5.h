// MD5 by OpenSSL's EVP interface, independent of the library's own digest.
// Header-only, so that the fuzz targets (built apart, with clang) and the
// benchmarks use the same reference as the tests without linking the rig.
#ifndef ZOLVO_TESTS_OPENSSL_MD5_H
#define ZOLVO_TESTS_OPENSSL_MD5_H

#include <openssl/evp.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace rig {

// The bytes as upper-case hex digits, two a byte, nothing between them.
inline std::string upperHex(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

// MD5 of `bytes` as 32 upper-case hex digits.
inline std::string opensslMd5Hex(const std::string& bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_md5(), nullptr))
        throw std::runtime_error("rig: EVP_Digest failed");
    return upperHex(md, len);
}

}  // namespace rig

#endif  // ZOLVO_TESTS_OPENSSL_MD5_H
