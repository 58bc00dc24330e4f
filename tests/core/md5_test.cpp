// The digest, the request signature and the init nonce.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "md5.h"
#include "openssl_md5.h"
#include "signing.h"

namespace {

using zolvo_sdk::Md5;

// The reference digest comes straight from OpenSSL's EVP interface.
using rig::opensslMd5Hex;
using rig::upperHex;

std::string md5Hex(const std::string& message) { return Md5(message).toUpperHex(); }

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(md5Hex("a"), "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(md5Hex("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "D174AB98D277D9F5A5611C2C9F419D9F");
    EXPECT_EQ(md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890"
                     "1234567890"),
              "57EDF4A22BE3C955AC49DA2E2107B67A");
}

// Every length from 0 to 300 crosses the padding boundaries (55, 56, 63, 64, 119,
// 120 …); the bytes cover the full range, so sign extension of bytes >= 0x80 shows.
TEST(Md5, RandomInputsMatchOpenSsl) {
    std::mt19937 gen(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t length = 0; length <= 300; ++length) {
        for (int round = 0; round < 3; ++round) {
            std::string input(length, '\0');
            for (char& c : input) c = static_cast<char>(byte(gen));
            ASSERT_EQ(md5Hex(input), opensslMd5Hex(input)) << "length " << length;
        }
    }
}

TEST(Md5, DigestKeepsRunningState) {
    Md5 md5("ab");
    const std::string first = upperHex(md5.digest(), 16);
    const std::string second = upperHex(md5.digest(), 16);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, opensslMd5Hex("ab"));

    // More input after a digest continues the message.
    const unsigned char c = 'c';
    md5.update(&c, 1);
    EXPECT_EQ(md5.toUpperHex(), md5Hex("abc"));

    // Feeding in pieces across block boundaries equals one message.
    std::string longText(200, 'x');
    for (size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>('a' + i % 26);
    Md5 pieces(longText.substr(0, 7));
    pieces.digest();
    pieces.update(reinterpret_cast<const unsigned char*>(longText.data() + 7), 60);
    pieces.digest();
    pieces.update(reinterpret_cast<const unsigned char*>(longText.data() + 67), 133);
    EXPECT_EQ(pieces.toUpperHex(), opensslMd5Hex(longText));
}

// A digest must not disturb the bytes still waiting for their block: with
// 56 to 63 of them the padding used to overwrite them, so a second digest, or
// input fed after a digest, came out wrong.
TEST(Md5, DigestThenDigestAndDigestThenMoreInputMatchOpenSsl) {
    std::mt19937 gen(777);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t length = 0; length <= 200; ++length) {
        std::string input(length, '\0');
        for (char& c : input) c = static_cast<char>(byte(gen));
        const std::string expected = opensslMd5Hex(input);

        Md5 twice(input);
        ASSERT_EQ(upperHex(twice.digest(), 16), expected) << "length " << length;
        ASSERT_EQ(upperHex(twice.digest(), 16), expected) << "second digest, length " << length;

        for (size_t more : {size_t{1}, size_t{8}, size_t{64}}) {
            std::string tail(more, '\0');
            for (char& c : tail) c = static_cast<char>(byte(gen));
            Md5 continued(input);
            continued.digest();
            continued.update(reinterpret_cast<const unsigned char*>(tail.data()), tail.size());
            ASSERT_EQ(upperHex(continued.digest(), 16), opensslMd5Hex(input + tail))
                << "length " << length << " then " << more;
        }
    }
}

TEST(SignRequest, AppendsUpperHexDigestOfTextAndKey) {
    const std::string form = "orderId=A1&parkCode=P01";
    const std::string signedText = zolvo_sdk::signRequest(form, "K3y");
    EXPECT_EQ(signedText, form + "&sign=" + opensslMd5Hex(form + "&key=K3y"));

    // Values holding "&", "=" and GBK bytes enter the signature unchanged.
    const std::string odd = "carNumber=\xC9\xC2"
                            "A1 2&remarks=a=b&c";
    EXPECT_EQ(zolvo_sdk::signRequest(odd, "k"), odd + "&sign=" + opensslMd5Hex(odd + "&key=k"));
}

bool inAlphabet(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

TEST(Nonce, DistinctAndFromAlphabet) {
    std::set<std::string> seen;
    std::set<char> used;
    for (int i = 0; i < 1000; ++i) {
        const std::string nonce = zolvo_sdk::Util::randomString();
        ASSERT_EQ(nonce.size(), 32u);
        for (char c : nonce) {
            ASSERT_TRUE(inAlphabet(c)) << "byte " << static_cast<int>(c);
            used.insert(c);
        }
        seen.insert(nonce);
    }
    EXPECT_EQ(seen.size(), 1000u);
    // 32,000 uniform draws reach every one of the 62 characters.
    EXPECT_EQ(used.size(), 62u);
}

TEST(Nonce, LeavesHostRandAloneAndIsSafeAcrossThreads) {
    std::srand(42);
    const int expectedFirst = std::rand();
    const int expectedSecond = std::rand();
    std::srand(42);
    EXPECT_EQ(std::rand(), expectedFirst);
    zolvo_sdk::Util::randomString();
    EXPECT_EQ(std::rand(), expectedSecond);

    std::vector<std::vector<std::string>> results(4);
    std::vector<std::thread> threads;
    for (auto& bucket : results) {
        threads.emplace_back([&bucket] {
            for (int i = 0; i < 250; ++i) bucket.push_back(zolvo_sdk::Util::randomString());
        });
    }
    for (auto& t : threads) t.join();
    std::set<std::string> all;
    for (const auto& bucket : results) all.insert(bucket.begin(), bucket.end());
    EXPECT_EQ(all.size(), 1000u);
}

}  // namespace
