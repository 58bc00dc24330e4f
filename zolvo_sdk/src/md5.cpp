// MD5 (RFC 1321).
#include "md5.h"

#include <cctype>
#include <cstring>

namespace zolvo_sdk {

namespace {

const unsigned char kPadding[64] = {0x80};
const char kHexDigits[] = "0123456789abcdef";

// The four round functions of RFC 1321, each step written so that only the
// last operations wait for b, the word the previous step produced: the sum of
// a, the message word and the constant, and the parts of the round function
// that do not involve b, are ready before b is.
//   F(b,c,d) = (b & c) | (~b & d) == d ^ (b & (c ^ d))
//   G(b,c,d) = (b & d) | (c & ~d) == (b & d) + (c & ~d)   (the two never share a bit)
//   H(b,c,d) = b ^ c ^ d
//   I(b,c,d) = c ^ (b | ~d)
inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline void FF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = rotl(a + x + ac + (d ^ (b & (c ^ d))), s) + b;
}
inline void GG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = rotl(a + x + ac + (c & ~d) + (b & d), s) + b;
}
inline void HH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = rotl(a + x + ac + (b ^ (c ^ d)), s) + b;
}
inline void II(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a = rotl(a + x + ac + (c ^ (b | ~d)), s) + b;
}

}  // namespace

Md5::Md5(const std::string& message) : finished(false), count{0, 0}, partialBlock{}, digestBytes{} {
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    update(reinterpret_cast<const unsigned char*>(message.data()), message.size());
}

void Md5::update(const unsigned char* input, size_t length) {
    finished = false;
    uint32_t index = (count[0] >> 3) & 0x3f;
    const uint32_t bitsLow = static_cast<uint32_t>(length << 3);
    count[0] += bitsLow;
    if (count[0] < bitsLow) ++count[1];
    count[1] += static_cast<uint32_t>(static_cast<uint64_t>(length) >> 29);

    const size_t partLength = 64 - index;
    size_t i = 0;
    if (length >= partLength) {
        std::memcpy(&partialBlock[index], input, partLength);
        transform(partialBlock);
        for (i = partLength; i + 63 < length; i += 64) transform(&input[i]);
        index = 0;
    }
    if (length > i) std::memcpy(&partialBlock[index], &input[i], length - i);
}

const unsigned char* Md5::digest() {
    finished = true;
    // Padding goes through update(), which writes into the block buffer: keep
    // the unprocessed bytes as well as the state and count, so that more input
    // or another digest continues from exactly where the message stood.
    uint32_t savedState[4];
    uint32_t savedCount[2];
    unsigned char savedBlock[64];
    std::memcpy(savedState, state, sizeof state);
    std::memcpy(savedCount, count, sizeof count);
    std::memcpy(savedBlock, partialBlock, sizeof partialBlock);

    unsigned char bits[8];
    encode(count, bits, 8);
    const uint32_t index = (count[0] >> 3) & 0x3f;
    const size_t padLength = (index < 56) ? (56 - index) : (120 - index);
    update(kPadding, padLength);
    update(bits, 8);
    encode(state, digestBytes, 16);

    std::memcpy(state, savedState, sizeof state);
    std::memcpy(count, savedCount, sizeof count);
    std::memcpy(partialBlock, savedBlock, sizeof partialBlock);
    return digestBytes;
}

std::string Md5::toUpperHex() {
    const unsigned char* bytes = digest();
    std::string hex;
    hex.reserve(32);
    for (int i = 0; i < 16; ++i) {
        hex += kHexDigits[bytes[i] / 16];
        hex += kHexDigits[bytes[i] % 16];
    }
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

void Md5::transform(const unsigned char block[64]) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t x[16];
    decode(block, x, 64);

    // Round 1
    FF(a, b, c, d, x[0], 7, 0xd76aa478);
    FF(d, a, b, c, x[1], 12, 0xe8c7b756);
    FF(c, d, a, b, x[2], 17, 0x242070db);
    FF(b, c, d, a, x[3], 22, 0xc1bdceee);
    FF(a, b, c, d, x[4], 7, 0xf57c0faf);
    FF(d, a, b, c, x[5], 12, 0x4787c62a);
    FF(c, d, a, b, x[6], 17, 0xa8304613);
    FF(b, c, d, a, x[7], 22, 0xfd469501);
    FF(a, b, c, d, x[8], 7, 0x698098d8);
    FF(d, a, b, c, x[9], 12, 0x8b44f7af);
    FF(c, d, a, b, x[10], 17, 0xffff5bb1);
    FF(b, c, d, a, x[11], 22, 0x895cd7be);
    FF(a, b, c, d, x[12], 7, 0x6b901122);
    FF(d, a, b, c, x[13], 12, 0xfd987193);
    FF(c, d, a, b, x[14], 17, 0xa679438e);
    FF(b, c, d, a, x[15], 22, 0x49b40821);
    // Round 2
    GG(a, b, c, d, x[1], 5, 0xf61e2562);
    GG(d, a, b, c, x[6], 9, 0xc040b340);
    GG(c, d, a, b, x[11], 14, 0x265e5a51);
    GG(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    GG(a, b, c, d, x[5], 5, 0xd62f105d);
    GG(d, a, b, c, x[10], 9, 0x02441453);
    GG(c, d, a, b, x[15], 14, 0xd8a1e681);
    GG(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    GG(a, b, c, d, x[9], 5, 0x21e1cde6);
    GG(d, a, b, c, x[14], 9, 0xc33707d6);
    GG(c, d, a, b, x[3], 14, 0xf4d50d87);
    GG(b, c, d, a, x[8], 20, 0x455a14ed);
    GG(a, b, c, d, x[13], 5, 0xa9e3e905);
    GG(d, a, b, c, x[2], 9, 0xfcefa3f8);
    GG(c, d, a, b, x[7], 14, 0x676f02d9);
    GG(b, c, d, a, x[12], 20, 0x8d2a4c8a);
    // Round 3
    HH(a, b, c, d, x[5], 4, 0xfffa3942);
    HH(d, a, b, c, x[8], 11, 0x8771f681);
    HH(c, d, a, b, x[11], 16, 0x6d9d6122);
    HH(b, c, d, a, x[14], 23, 0xfde5380c);
    HH(a, b, c, d, x[1], 4, 0xa4beea44);
    HH(d, a, b, c, x[4], 11, 0x4bdecfa9);
    HH(c, d, a, b, x[7], 16, 0xf6bb4b60);
    HH(b, c, d, a, x[10], 23, 0xbebfbc70);
    HH(a, b, c, d, x[13], 4, 0x289b7ec6);
    HH(d, a, b, c, x[0], 11, 0xeaa127fa);
    HH(c, d, a, b, x[3], 16, 0xd4ef3085);
    HH(b, c, d, a, x[6], 23, 0x04881d05);
    HH(a, b, c, d, x[9], 4, 0xd9d4d039);
    HH(d, a, b, c, x[12], 11, 0xe6db99e5);
    HH(c, d, a, b, x[15], 16, 0x1fa27cf8);
    HH(b, c, d, a, x[2], 23, 0xc4ac5665);
    // Round 4
    II(a, b, c, d, x[0], 6, 0xf4292244);
    II(d, a, b, c, x[7], 10, 0x432aff97);
    II(c, d, a, b, x[14], 15, 0xab9423a7);
    II(b, c, d, a, x[5], 21, 0xfc93a039);
    II(a, b, c, d, x[12], 6, 0x655b59c3);
    II(d, a, b, c, x[3], 10, 0x8f0ccc92);
    II(c, d, a, b, x[10], 15, 0xffeff47d);
    II(b, c, d, a, x[1], 21, 0x85845dd1);
    II(a, b, c, d, x[8], 6, 0x6fa87e4f);
    II(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    II(c, d, a, b, x[6], 15, 0xa3014314);
    II(b, c, d, a, x[13], 21, 0x4e0811a1);
    II(a, b, c, d, x[4], 6, 0xf7537e82);
    II(d, a, b, c, x[11], 10, 0xbd3af235);
    II(c, d, a, b, x[2], 15, 0x2ad7d2bb);
    II(b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5::encode(const uint32_t* input, unsigned char* output, size_t length) {
    for (size_t i = 0, j = 0; j < length; ++i, j += 4) {
        output[j] = static_cast<unsigned char>(input[i] & 0xff);
        output[j + 1] = static_cast<unsigned char>((input[i] >> 8) & 0xff);
        output[j + 2] = static_cast<unsigned char>((input[i] >> 16) & 0xff);
        output[j + 3] = static_cast<unsigned char>((input[i] >> 24) & 0xff);
    }
}

void Md5::decode(const unsigned char* input, uint32_t* output, size_t length) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // The words are little-endian, as the host's own: a plain copy. (The byte
    // by byte form below is compiled into a slow vector shuffle per block.)
    std::memcpy(output, input, length);
#else
    for (size_t i = 0, j = 0; j < length; ++i, j += 4) {
        output[i] = static_cast<uint32_t>(input[j]) | (static_cast<uint32_t>(input[j + 1]) << 8) |
                    (static_cast<uint32_t>(input[j + 2]) << 16) |
                    (static_cast<uint32_t>(input[j + 3]) << 24);
    }
#endif
}

}  // namespace zolvo_sdk
