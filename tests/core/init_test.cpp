// init, unInit, the registrations and the teardown, against a real platform
// server on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "command_channel.h"
#include "command_recorder.h"
#include "endpoints_and_results.h"
#include "rig.h"
#include "sdk_state.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace {

using zolvo_sdk::ZOLVOSDK;

const char* const kInitPath = "/api/client/init.do";
const char* const kKey = "SeCrEtMeRcHaNtKeY-7731";

void onCommand(const char*) {}

// The stored settings as a request would take them now (null once torn down).
zolvo_sdk::SdkConfigPtr stored() { return zolvo_sdk::sdkState().config(); }
bool initialised() { return zolvo_sdk::sdkState().initialized(); }

std::string closedBroker() { return "tcp://127.0.0.1:" + std::to_string(rig::closedPort()); }

rig::Reply jsonReply(const std::string& body) {
    rig::Reply reply;
    reply.body = body;
    return reply;
}

std::string initWith(const std::string& url, const std::string& parkCode = "P01") {
    return ZOLVOSDK::init("M01", parkCode, "S01", "A4", kKey, url);
}

// Nothing of a refused or failed init reaches the record.
void expectNothingStored() {
    ASSERT_NE(stored(), nullptr);
    EXPECT_FALSE(initialised());
    EXPECT_EQ(stored()->url, "");
    EXPECT_EQ(stored()->key, "");
    EXPECT_EQ(stored()->parkCode, "");
    EXPECT_EQ(stored()->mqttAddress, "");
    EXPECT_EQ(stored()->prepaymentType, 0);
    EXPECT_EQ(stored()->mqttQos, 0);
}

TEST(Init, RefusalsInOrderSendNothing) {
    rig::PlatformServer server;
    const std::string url = server.baseUrl();
    // Argument tests come before the registration test.
    EXPECT_EQ(ZOLVOSDK::init("", "", "", "", "", url),
              std::string("{\"code\":\"1000\",\"msg\":\"") +
                  "\xB2\xCE\xCA\xFD\xD2\xEC\xB3\xA3!"
                  "\xCE\xB4\xD6\xAA\xB5\xC4\xB3\xA7\xC9\xCC\xB1\xE0\xBA\xC5!\"}");
    EXPECT_EQ(ZOLVOSDK::init(std::string("\0M", 2), "P", "S", "C", "K", url),
              rig::resultText("1000", "参数异常!未知的厂商编号!"));
    EXPECT_EQ(ZOLVOSDK::init("M", "", "S", "C", "K", url),
              rig::resultText("1000", "参数异常!未知的车场编号!"));
    EXPECT_EQ(ZOLVOSDK::init("M", "P", std::string("\0\0\0", 3), "C", "K", url),
              rig::resultText("1000", "参数异常!未知的收费系统编号!"));
    EXPECT_EQ(ZOLVOSDK::init("M", "P", "S", "", "K", url),
              rig::resultText("1000", "参数异常!未知的通道编号!"));
    EXPECT_EQ(ZOLVOSDK::init("M", "P", "S", "C", "", url),
              rig::resultText("1000", "参数异常!未知的秘钥编号!"));
    EXPECT_EQ(ZOLVOSDK::init("M", "P", "S", "C", "K", url),
              rig::resultText("1000", "请设置回调方法!setCommandInterface() or setCallBackFun()"));
    EXPECT_EQ(server.requestCount(), 0u);
    expectNothingStored();

    ZOLVOSDK::setCallBackFun(onCommand);
    server.setReply(kInitPath, jsonReply("{\"code\":\"0000\"}"));
    EXPECT_EQ(initWith(url), rig::resultText("0000", "初始化成功!"));
    EXPECT_EQ(server.requestCount(), 1u);
    // Initialised: refused before any argument test, nothing sent.
    EXPECT_EQ(ZOLVOSDK::init("", "", "", "", "", ""),
              rig::resultText("1010", "SDK已经初始化,请勿重复操作!"));
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(Init, SendsSignedFormTextUnconverted) {
    ZOLVOSDK::setCallBackFun(onCommand);
    rig::PlatformServer server;
    server.setReply(kInitPath, jsonReply("{\"code\":\"0000\"}"));
    const std::string gbkPark = "\xC9\xC2P01";  // GBK text goes out as it came
    ASSERT_EQ(initWith(server.baseUrl(), gbkPark), rig::resultText("0000", "初始化成功!"));
    ZOLVOSDK::unInit();
    ASSERT_EQ(initWith(server.baseUrl(), gbkPark), rig::resultText("0000", "初始化成功!"));

    const auto requests = server.requestsTo(kInitPath);
    ASSERT_EQ(requests.size(), 2u);
    std::string nonces[2];
    for (int i = 0; i < 2; ++i) {
        const rig::RecordedRequest& r = requests[i];
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
        const auto pairs = rig::parseForm(r.body);
        ASSERT_EQ(pairs.size(), 6u) << r.body;
        EXPECT_EQ(pairs[0], std::make_pair(std::string("channelNumber"), std::string("A4")));
        EXPECT_EQ(pairs[1], std::make_pair(std::string("manufacturer"), std::string("M01")));
        EXPECT_EQ(pairs[2].first, "nonceStr");
        EXPECT_EQ(pairs[3], std::make_pair(std::string("parkCode"), gbkPark));
        EXPECT_EQ(pairs[4], std::make_pair(std::string("sysCode"), std::string("S01")));
        EXPECT_EQ(pairs[5].first, "sign");
        nonces[i] = pairs[2].second;
        ASSERT_EQ(nonces[i].size(), 32u);
        EXPECT_EQ(r.body, "channelNumber=A4&manufacturer=M01&nonceStr=" + nonces[i] +
                              "&parkCode=" + gbkPark + "&sysCode=S01&sign=" + pairs[5].second);
        EXPECT_TRUE(rig::checkSign(r.body, kKey)) << r.body;
    }
    // Two inits within the same second send different nonces.
    EXPECT_NE(nonces[0], nonces[1]);
    // The merchant key appears in no request.
    for (const auto& r : server.requests()) {
        EXPECT_EQ(r.body.find(kKey), std::string::npos);
        EXPECT_EQ(r.target.find(kKey), std::string::npos);
        for (const auto& h : r.headers) EXPECT_EQ(h.second.find(kKey), std::string::npos);
    }
}

TEST(Init, StoresCodesAndEverySettingOfAFullReply) {
    ZOLVOSDK::setCallBackFun(onCommand);
    rig::PlatformServer server;
    const std::string broker = closedBroker();
    server.setReply(kInitPath,
                    jsonReply("{\"code\":\"0000\",\"msg\":\"ok\",\"extra\":[1,2],\"data\":{"
                              "\"prepaymentType\":2,\"mqttAddress\":\"" +
                              broker +
                              "\","
                              "\"mqttUsername\":\"user\",\"mqttPassword\":\"p@ss\","
                              "\"mqttClientId\":\"cid-1\",\"mqttTopic\":\"park/P01\","
                              "\"mqttQos\":1,\"mqttTimeout\":250,\"mqttConnectTimeout\":3,"
                              "\"mqttKeepAliveInterval\":20,\"mqttCleanSession\":1,"
                              "\"useSslTls\":-1,\"sslTlsVersion\":\"TLSv1.2\",\"other\":{}}}"));
    EXPECT_EQ(initWith(server.baseUrl()), rig::resultText("0000", "初始化成功!"));

    const zolvo_sdk::SdkConfigPtr settings = stored();
    const zolvo_sdk::SdkConfig& c = *settings;
    EXPECT_EQ(c.url, server.baseUrl());
    EXPECT_EQ(c.key, kKey);
    EXPECT_EQ(c.manufacturer, "M01");
    EXPECT_EQ(c.parkCode, "P01");
    EXPECT_EQ(c.sysCode, "S01");
    EXPECT_EQ(c.channelNumber, "A4");
    EXPECT_TRUE(initialised());
    EXPECT_EQ(c.prepaymentType, 2);
    EXPECT_EQ(c.mqttAddress, broker);
    EXPECT_EQ(c.mqttUsername, "user");
    EXPECT_EQ(c.mqttPassword, "p@ss");
    EXPECT_EQ(c.mqttClientId, "cid-1");
    EXPECT_EQ(c.mqttTopic, "park/P01");
    EXPECT_EQ(c.mqttQos, 1);
    EXPECT_EQ(c.mqttTimeout, 250);
    EXPECT_EQ(c.mqttConnectTimeout, 3);
    EXPECT_EQ(c.mqttKeepAliveInterval, 20);
    EXPECT_EQ(c.mqttCleanSession, 1);
    EXPECT_EQ(c.useSslTls, -1);
    EXPECT_EQ(c.sslTlsVersion, "TLSv1.2");
}

TEST(Init, CodeOnlyAndCommentedRepliesSucceed) {
    ZOLVOSDK::setCallBackFun(onCommand);
    rig::PlatformServer server;
    server.setReply(kInitPath, jsonReply("{\"code\":\"0000\"}"));
    EXPECT_EQ(initWith(server.baseUrl()), rig::resultText("0000", "初始化成功!"));
    EXPECT_TRUE(initialised());
    EXPECT_EQ(stored()->mqttAddress, "");
    EXPECT_EQ(stored()->mqttTopic, "");
    EXPECT_EQ(stored()->sslTlsVersion, "");
    EXPECT_EQ(stored()->prepaymentType, 0);
    EXPECT_EQ(stored()->mqttTimeout, 0);

    ZOLVOSDK::unInit();
    server.setReply(kInitPath,
                    jsonReply("// platform reply\n{\"code\":\"0000\", /* settings */ \"data\":"
                              "{\"mqttQos\":2,\"mqttTopic\":\"t\",\"mqttAddress\":null}} "
                              "and some trailing text"));
    EXPECT_EQ(initWith(server.baseUrl()), rig::resultText("0000", "初始化成功!"));
    EXPECT_EQ(stored()->mqttQos, 2);
    EXPECT_EQ(stored()->mqttTopic, "t");
    EXPECT_EQ(stored()->mqttAddress, "");
}

TEST(Init, EmptyUnreadableAndRefusedRepliesStoreNothing) {
    ZOLVOSDK::setCallBackFun(onCommand);
    rig::PlatformServer server;
    const std::string url = server.baseUrl();

    server.setReply(kInitPath, jsonReply(""));
    EXPECT_EQ(initWith(url), rig::resultText("2000", "初始化失败,未知的请求!"));
    expectNothingStored();

    for (const char* body : {"not json", "{\"code\":\"0000\"", "<html>502</html>"}) {
        server.setReply(kInitPath, jsonReply(body));
        EXPECT_EQ(initWith(url), rig::resultText("2001", "初始化失败,未知的返回数据!")) << body;
        expectNothingStored();
    }
    // A reply cut at a NUL is read up to it.
    server.setReply(kInitPath, jsonReply(std::string("\0{\"code\":\"0000\"}", 16)));
    EXPECT_EQ(initWith(url), rig::resultText("2001", "初始化失败,未知的返回数据!"));

    // Codes other than the text "0000" come back unchanged. A null reply has
    // no code at all and comes back as it came, comments and trailing text kept.
    for (const char* body :
         {"{\"code\":\"1005\",\"msg\":\"\xB4\xED\"}", "{\"code\":0,\"data\":{}}",
          "{\"code\":\"0\"}", "{\"msg\":\"no code\"}", "{\"code\":\"0000 \"}", "null", " null\n",
          "/* none */ null // 0000", "null {\"code\":\"0000\"}"}) {
        server.setReply(kInitPath, jsonReply(body));
        EXPECT_EQ(initWith(url), body);
        expectNothingStored();
    }

    // A platform that cannot be reached: the transport's text comes back.
    rig::OutputCapture err(2);
    const std::string closed = "http://127.0.0.1:" + std::to_string(rig::closedPort());
    EXPECT_EQ(initWith(closed), rig::resultText("1000", "连接异常!"));
    EXPECT_NE(err.text().find("curl_easy_perform() failed: "), std::string::npos);
    expectNothingStored();
}

// Replies of other unexpected shapes never throw out of init: "2001", nothing stored.
TEST(Init, UnexpectedReplyTypesGive2001) {
    ZOLVOSDK::setCallBackFun(onCommand);
    rig::PlatformServer server;
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    const std::string bodies[] = {
        "[{\"code\":\"0000\"}]",
        "\"0000\"",
        "42",
        "true",
        "false",
        "-0.5",
        "[]",
        "\"null\"",
        "{\"code\":{\"v\":\"0000\"}}",
        "{\"code\":[\"0000\"]}",
        "{\"code\":\"0000\",\"data\":[1]}",
        "{\"code\":\"0000\",\"data\":\"settings\"}",
        "{\"code\":\"0000\",\"data\":7}",
        "{\"code\":\"0000\",\"data\":{\"mqttAddress\":{\"host\":\"x\"}}}",
        "{\"code\":\"0000\",\"data\":{\"mqttQos\":\"1\"}}",
        "{\"code\":\"0000\",\"data\":{\"mqttTimeout\":1e20}}",
        "{\"code\":\"0000\",\"data\":{\"mqttTopic\":\"t\",\"sslTlsVersion\":[]}}",
        deep,
    };
    for (const std::string& body : bodies) {
        server.setReply(kInitPath, jsonReply(body));
        EXPECT_EQ(initWith(server.baseUrl()), rig::resultText("2001", "初始化失败,未知的返回数据!"))
            << body.substr(0, 80);
        expectNothingStored();
        EXPECT_EQ(stored()->mqttTopic, "");
    }
}

TEST(Init, BaseAddressIsKeptAsGiven) {
    ZOLVOSDK::setCallBackFun(onCommand);
    rig::PlatformServer server;
    const std::string withSlash = server.baseUrl() + "/";
    server.setReply("//api/client/init.do", jsonReply("{\"code\":\"0000\"}"));
    EXPECT_EQ(initWith(withSlash), rig::resultText("0000", "初始化成功!"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "//api/client/init.do");
    EXPECT_EQ(stored()->url, withSlash);
}

// A loopback listener playing an HTTPS proxy: records the first request line.
class ProxyListener {
public:
    ProxyListener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd_, 4);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            const int client = accept(fd_, nullptr, nullptr);
            if (client < 0) return;
            std::string text;
            char buffer[512];
            while (text.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                text.append(buffer, static_cast<size_t>(n));
            }
            firstLine_ = text.substr(0, text.find("\r\n"));
            const char refusal[] = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
            send(client, refusal, sizeof refusal - 1, MSG_NOSIGNAL);
            close(client);
            done_ = true;
        });
    }
    ~ProxyListener() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    int port() const { return port_; }
    bool done() const { return done_; }
    std::string firstLine() const { return firstLine_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::string firstLine_;
};

TEST(Init, EmptyAddressGoesToTheBuiltInPlatform) {
    EXPECT_EQ(zolvo_sdk::baseUrlOrDefault(""), "https://platform.zolvo.invalid");
    EXPECT_EQ(zolvo_sdk::baseUrlOrDefault(std::string("\0x", 2)), "https://platform.zolvo.invalid");
    EXPECT_EQ(zolvo_sdk::baseUrlOrDefault("http://h:1"), "http://h:1");

    // The request itself: through a loopback "proxy" that only reads where it goes.
    ProxyListener proxy;
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.port());
    setenv("https_proxy", proxyUrl.c_str(), 1);
    setenv("HTTPS_PROXY", proxyUrl.c_str(), 1);
    unsetenv("no_proxy");
    unsetenv("NO_PROXY");
    ZOLVOSDK::setCallBackFun(onCommand);
    rig::OutputCapture err(2);
    EXPECT_EQ(initWith(""), rig::resultText("1000", "连接异常!"));
    ASSERT_TRUE(rig::waitUntil([&] { return proxy.done(); }, std::chrono::seconds(2)));
    EXPECT_EQ(proxy.firstLine(), "CONNECT platform.zolvo.invalid:443 HTTP/1.1");
    expectNothingStored();
}

TEST(Init, UnInitThenInitAgain) {
    ZOLVOSDK::unInit();  // before any init: only the flags
    EXPECT_FALSE(initialised());
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().mqttStarted());

    ZOLVOSDK::setCallBackFun(onCommand);
    rig::PlatformServer server;
    server.setReply(kInitPath, jsonReply("{\"code\":\"0000\",\"data\":{\"mqttQos\":1}}"));
    EXPECT_EQ(initWith(server.baseUrl()), rig::resultText("0000", "初始化成功!"));
    ZOLVOSDK::unInit();
    EXPECT_FALSE(initialised());
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().mqttStarted());
    // Settings and codes stay after unInit.
    const zolvo_sdk::SdkConfigPtr first = stored();
    EXPECT_EQ(first->parkCode, "P01");
    EXPECT_EQ(first->mqttQos, 1);

    server.setReply(kInitPath, jsonReply("{\"code\":\"0000\",\"data\":{\"mqttQos\":2}}"));
    EXPECT_EQ(initWith(server.baseUrl(), "P02"), rig::resultText("0000", "初始化成功!"));
    EXPECT_TRUE(initialised());
    EXPECT_EQ(stored()->parkCode, "P02");
    EXPECT_EQ(stored()->mqttQos, 2);
    // The next init replaces the settings whole: a snapshot taken before keeps
    // the earlier ones.
    EXPECT_EQ(first->parkCode, "P01");
    EXPECT_EQ(first->mqttQos, 1);
    EXPECT_EQ(server.requestsTo(kInitPath).size(), 2u);
}

TEST(Teardown, DestroyingTwoObjectsTearsDownOnce) {
    rig::CommandLog log;
    ZOLVOSDK::setCommandInterface(new rig::RecordingCommands(log));
    {
        ZOLVOSDK first;
        ZOLVOSDK second;
        second = first;
    }
    EXPECT_EQ(log.deletedCount(), 1);
    EXPECT_EQ(stored(), nullptr);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), nullptr);
    // After the teardown init answers with a text and sends nothing.
    rig::PlatformServer server;
    ZOLVOSDK::setCallBackFun(onCommand);
    EXPECT_EQ(initWith(server.baseUrl()), rig::resultText("1010", "SDK未初始化!"));
    EXPECT_EQ(server.requestCount(), 0u);
}

}  // namespace
