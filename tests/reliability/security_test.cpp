// Security checks: the merchant key never goes over the wire, hostile input of
// every length and byte value goes through every request function without
// harm, and broker settings and payloads far longer than any buffer are safe.
// (Certificate verification against an untrusted HTTPS platform is checked by
// HttpPost.UntrustedCertificateIsRefused in the core tests.)
#include <gtest/gtest.h>

#include <thread>

#include "reliability_support.h"

using namespace reltest;

namespace {

const std::string kTime = "20240101120000";

// CommandLog every request function with `text` as each of its text arguments
// (the image path aside) and returns the results.
std::vector<std::string> everyFunction(const std::string& text, const std::string& image) {
    return {
        ZOLVOSDK::entry(text, text, text, image, 2, text),
        ZOLVOSDK::leave(text, text, text, 60, 100, image, 2, text),
        ZOLVOSDK::finish(text, text, text),
        ZOLVOSDK::freeCar(text, text, text, text, true),
        ZOLVOSDK::pushOrder(text, text, text, text, text, text, 60, 100),
        ZOLVOSDK::queryOrder(text),
        ZOLVOSDK::scanningOrder(text, text, text, text, text, text, text, 60, 100),
        ZOLVOSDK::suppOrder(text, text, text, text, 60, 100),
        ZOLVOSDK::uploadFile(text, image, text),
    };
}

// A result is the platform's reply or one of the library's own JSON texts.
bool wellFormed(const std::string& result) {
    return result.find("\"code\":\"") != std::string::npos;
}

class Security : public ::testing::Test {
protected:
    rig::PlatformServer platform;
    rig::TempDir dir;
    std::string image = dir.write("plate.jpg", std::string(1024, '\x7f'));

    void SetUp() override {
        ZOLVOSDK::setCallBackFun(&ignorePayload);
        ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    }
    void TearDown() override { ZOLVOSDK::unInit(); }
};

TEST(SecurityKey, MerchantKeyNeverGoesOverTheWire) {
    rig::TempDir dir;
    const std::string image = dir.write("plate.jpg", std::string(1024, '\x7f'));
    BrokerSite site("key");
    ZOLVOSDK::setCallBackFun(&ignorePayload);
    ASSERT_TRUE(succeeded(initAgainst(site.platform.baseUrl())));
    ASSERT_TRUE(site.console.out().waitFor("sub topic: ", 10s));
    everyFunction("粤B12345-" + kTime, image);
    everyFunction("粤B12345-" + kTime, "");
    everyFunction("", image);                                           // refusals
    ZOLVOSDK::init("M", "P", "S", "C", kKey, site.platform.baseUrl());  // refused: already done
    ZOLVOSDK::unInit();
    ASSERT_TRUE(succeeded(initAgainst(site.platform.baseUrl())));
    ZOLVOSDK::unInit();

    const auto requests = site.platform.requests();
    ASSERT_EQ(requests.size(), 19u);  // two inits, nine requests with an image, eight without
    size_t checked = 0;
    for (const auto& r : requests) {
        std::string wire = r.method + " " + r.target + "\n" + r.body;
        for (const auto& h : r.headers) wire += h.first + ": " + h.second + "\n";
        for (const auto& p : r.parts) wire += p.name + p.filename + p.contentType + p.contents;
        EXPECT_EQ(wire.find(kKey), std::string::npos) << r.path << "\n" << wire;
        EXPECT_EQ(wireForm(r).find("key="), std::string::npos) << r.path;
        ++checked;
    }
    EXPECT_EQ(site.broker.log().find(kKey), std::string::npos);
    site.console.note("figures: requests checked for the key " + std::to_string(checked));
}

// Lengths 0…300 byte by byte, then a spread up to 64 KiB. The filler mixes
// ASCII, the form's separators, percent signs and GBK pairs, so that many
// lengths end inside a two-byte character.
std::string filler(size_t length) {
    static const std::string pattern =
        "A&=%" + rig::utf8ToGbk("粤") + "9 +\x80" + rig::utf8ToGbk("车牌") + "\xff";
    std::string s;
    s.reserve(length);
    while (s.size() < length) s += pattern;
    s.resize(length);
    return s;
}

TEST_F(Security, EveryLengthUpTo64KiBThroughEveryFunction) {
    Console console;
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (size_t n :
         {511u, 512u, 1023u, 1024u, 1025u, 4095u, 4096u, 8191u, 16384u, 32767u, 65535u, 65536u})
        lengths.push_back(n);
    size_t calls = 0;
    for (size_t n : lengths) {
        const std::string text = filler(n);
        for (const std::string& result : everyFunction(text, image)) {
            ASSERT_TRUE(wellFormed(result)) << "length " << n << ": " << result.substr(0, 200);
            ++calls;
        }
        // Long image paths: refused locally, nothing opened that was not named.
        if (n > 300) {
            for (const std::string& result :
                 everyFunction("粤B12345" + kTime, dir.path() + "/" + text))
                ASSERT_TRUE(wellFormed(result)) << "path length " << n;
        }
    }
    // Still in service.
    EXPECT_NE(ZOLVOSDK::queryOrder("after").find("\"code\":\"0000\""), std::string::npos);
    console.note("figures: hostile-length calls " + std::to_string(calls) + ", platform requests " +
                 std::to_string(platform.requestCount()));
}

TEST_F(Security, EveryByteValueThroughEveryFunctionAndInit) {
    Console console;
    size_t calls = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string text = "B" + std::string(20, static_cast<char>(b)) + "Z";
        for (const std::string& result : everyFunction(text, image)) {
            ASSERT_TRUE(wellFormed(result)) << "byte " << b << ": " << result.substr(0, 200);
            ++calls;
        }
        // The same through init's arguments.
        ZOLVOSDK::unInit();
        ASSERT_TRUE(succeeded(ZOLVOSDK::init(text, text, text, text, text, platform.baseUrl())))
            << "byte " << b;
    }
    EXPECT_NE(ZOLVOSDK::queryOrder("after").find("\"code\":\"0000\""), std::string::npos);
    console.note("figures: byte-value calls " + std::to_string(calls) + " and 256 inits");
}

TEST(SecurityBroker, SettingsAndPayloadsFarPastAnyBuffer) {
    BrokerSite site("long");
    site.settings.topic = "cmd/" + std::string(4092, 't');
    site.settings.username = std::string(4096, 'u');
    site.settings.password = std::string(4096, 'p');
    site.settings.clientId = "c" + std::string(4095, 'i');
    site.settings.sslTlsVersion = std::string(4096, 'v');

    CommandLog census;
    ZOLVOSDK::setCommandInterface(new RecordingCommands(census));
    ASSERT_TRUE(succeeded(initAgainst(site.platform.baseUrl())));
    ASSERT_TRUE(site.console.out().waitFor(site.subscribedLine(), 10s));

    rig::CliPublisher sender(site.broker.port());
    // 64 KiB payloads: a command whose first 1023 bytes are a whole command,
    // one cut inside its text, and plain bytes.
    const std::string whole = prePay("fits") + std::string(65536, ' ');
    const std::string cut = prePay(std::string(65536, 'o'));
    const std::string bytes(65536, '\x01');
    ASSERT_TRUE(sender.publish(site.settings.topic, whole));
    ASSERT_TRUE(sender.publish(site.settings.topic, cut));
    ASSERT_TRUE(sender.publish(site.settings.topic, bytes));
    ASSERT_TRUE(sender.publish(site.settings.topic, prePay("last")));
    ASSERT_TRUE(rig::waitUntil([&] { return census.commands >= 2; }, 10s));
    {
        std::lock_guard<std::mutex> lock(census.mutex);
        EXPECT_EQ(census.orderIds, (std::multiset<std::string>{"fits", "last"}));
    }
    ZOLVOSDK::unInit();
    { ZOLVOSDK teardown; }
    EXPECT_TRUE(census.eachDeletedOnce());
}

TEST(SecurityBroker, FourKilobyteAddressIsRefusedCleanly) {
    rig::PlatformServer platform;
    Console console;
    InitSettings settings;
    settings.uri = "tcp://" + std::string(4090, 'h') + ":1883";
    settings.topic = uniqueTopic("addr");
    rig::Reply init;
    init.body = initReply(settings);
    platform.setReply("/api/client/init.do", init);
    ZOLVOSDK::setCallBackFun(&ignorePayload);
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    EXPECT_TRUE(console.out().waitFor("Failed to connect, return code", 15s));
    ZOLVOSDK::unInit();
    EXPECT_NE(ZOLVOSDK::queryOrder("x").find("\"code\":\"1010\""), std::string::npos);
}

}  // namespace
