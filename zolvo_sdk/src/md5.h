// MD5 (RFC 1321), the digest of the request signature.
#ifndef ZOLVO_SDK_MD5_H
#define ZOLVO_SDK_MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace zolvo_sdk {

class Md5 {
public:
    explicit Md5(const std::string& message);
    void update(const unsigned char* input, size_t length);
    // Finalises a copy of the running state (state, bit count and the bytes not
    // yet processed): more input may follow, and a later digest() covers
    // everything fed so far. The bytes belong to the object.
    const unsigned char* digest();
    std::string toUpperHex();

private:
    void transform(const unsigned char block[64]);
    static void encode(const uint32_t* input, unsigned char* output, size_t length);
    static void decode(const unsigned char* input, uint32_t* output, size_t length);

    bool finished;
    uint32_t state[4];
    uint32_t count[2];
    unsigned char partialBlock[64];
    unsigned char digestBytes[16];
};

}  // namespace zolvo_sdk

#endif
