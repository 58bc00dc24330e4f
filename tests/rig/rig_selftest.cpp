// The rig checks itself against real clients: libcurl for the platform server,
// Paho for the broker fixture.
#include "rig.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

using namespace std::chrono_literals;

namespace {

size_t collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

struct CurlResult {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

// A form POST the way the library's transport makes one.
CurlResult postForm(const std::string& url, const std::string& body,
                    const std::function<void(CURL*)>& extra = nullptr) {
    CurlResult r;
    CURL* c = curl_easy_init();
    curl_slist* headers = nullptr;
    headers =
        curl_slist_append(headers, "Content-Type:application/x-www-form-urlencoded; charset=UTF-8");
    headers = curl_slist_append(headers, "Accept:application/json, text/javascript, */*; q=0.01");
    headers = curl_slist_append(headers, "Accept-Language:zh-CN,zh;q=0.8");
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 10L);
    if (extra) extra(c);
    r.code = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(c);
    return r;
}

TEST(PlatformServer, RecordsFormPostAndAnswersEveryEndpoint) {
    rig::PlatformServer server;
    const std::string form = "carNumber=A12345&orderId=o-1&sign=ABC";
    for (const char* path : rig::kEndpoints) {
        if (std::string(path) == "/api/client/init.do") continue;
        CurlResult r = postForm(server.baseUrl() + path, form);
        ASSERT_EQ(r.code, CURLE_OK) << path;
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body,
                  std::string("{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"") + path + "\"}");
    }
    auto all = server.requests();
    ASSERT_EQ(all.size(), 9u);
    const rig::RecordedRequest& first = all.front();
    EXPECT_EQ(first.method, "POST");
    EXPECT_EQ(first.path, "/api/car/enter.do");
    EXPECT_EQ(first.body, form);
    EXPECT_FALSE(first.multipart);
    EXPECT_EQ(first.header("content-type"), "application/x-www-form-urlencoded; charset=UTF-8");
    EXPECT_EQ(first.header("Accept"), "application/json, text/javascript, */*; q=0.01");
    EXPECT_EQ(first.header("Accept-Language"), "zh-CN,zh;q=0.8");
    EXPECT_FALSE(first.hasHeader("Expect"));
    EXPECT_EQ(server.requestsTo("/api/order/query.do").size(), 1u);

    // An unknown path answers 404 with an empty body, and is recorded too.
    CurlResult missing = postForm(server.baseUrl() + "/api/nothing.do?x=1", "a=1");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "");
    auto last = server.requests().back();
    EXPECT_EQ(last.path, "/api/nothing.do");
    EXPECT_EQ(last.target, "/api/nothing.do?x=1");
    server.clearRequests();
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(PlatformServer, KeepsMultipartPartsInOrderWithExactBytes) {
    rig::PlatformServer server;
    rig::TempDir dir;
    // Binary contents that look like a delimiter and carry NUL and CR LF bytes.
    const std::string image =
        std::string("\x89PNG\r\n\x1a\n\0\r\n--x\r\n", 16) + std::string(70000, '\xC9');
    const std::string file = dir.write("photo.jpg", image);

    CURL* c = curl_easy_init();
    curl_mime* mime = curl_mime_init(c);
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"zeta", "1"}, {"carNumber", rig::utf8ToGbk("陕A12345")}, {"alpha", ""}, {"sign", "S"}};
    for (const auto& f : fields) {
        curl_mimepart* part = curl_mime_addpart(mime);
        curl_mime_name(part, f.first.c_str());
        curl_mime_data(part, f.second.data(), f.second.size());
    }
    curl_mimepart* filePart = curl_mime_addpart(mime);
    curl_mime_name(filePart, "fileImage");
    curl_mime_filedata(filePart, file.c_str());
    std::string body;
    curl_easy_setopt(c, CURLOPT_URL, (server.baseUrl() + "/api/car/enter.do").c_str());
    curl_easy_setopt(c, CURLOPT_MIMEPOST, mime);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 10L);
    ASSERT_EQ(curl_easy_perform(c), CURLE_OK);
    curl_easy_cleanup(c);
    curl_mime_free(mime);

    ASSERT_TRUE(server.waitForRequests(1, 2s, "/api/car/enter.do"));
    rig::RecordedRequest r = server.requestsTo("/api/car/enter.do").at(0);
    ASSERT_TRUE(r.multipart);
    ASSERT_EQ(r.parts.size(), 5u);
    for (size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(r.parts[i].name, fields[i].first);
        EXPECT_EQ(r.parts[i].contents, fields[i].second) << rig::hex(r.parts[i].contents);
        EXPECT_EQ(r.parts[i].filename, "");
    }
    EXPECT_EQ(r.parts[4].name, "fileImage");
    EXPECT_EQ(r.parts[4].filename, "photo.jpg");
    EXPECT_EQ(r.parts[4].contents, image);
    EXPECT_EQ(r.part("fileImage"), &r.parts[4] - &r.parts[0] + r.parts.data());
    EXPECT_EQ(r.part("none"), nullptr);
    EXPECT_EQ(rig::formFromParts(r.parts),
              "zeta=1&carNumber=" + rig::utf8ToGbk("陕A12345") + "&alpha=&sign=S");
}

TEST(PlatformServer, RepliesCanBeSetPerPath) {
    rig::PlatformServer server;
    server.setReply("/api/order/query.do", {500, "{\"code\":\"9\"}", "application/json", 0, ""});
    server.setReply("/api/car/out.do",
                    {302, "", "text/plain", 0, server.baseUrl() + "/api/car/leave.do"});
    server.setReply("/api/car/leave.do", {200, "slow", "text/plain", 400, ""});
    server.setHandler("/api/free/car/push.do", [](const rig::RecordedRequest& r) {
        rig::Reply reply;
        reply.body = "echo:" + r.body;
        return reply;
    });

    CurlResult err = postForm(server.baseUrl() + "/api/order/query.do", "a=1");
    EXPECT_EQ(err.status, 500);
    EXPECT_EQ(err.body, "{\"code\":\"9\"}");

    auto start = std::chrono::steady_clock::now();
    CurlResult redirected = postForm(server.baseUrl() + "/api/car/out.do", "b=2", [](CURL* c) {
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    });
    EXPECT_GE(std::chrono::steady_clock::now() - start, 390ms);
    EXPECT_EQ(redirected.body, "slow");
    EXPECT_EQ(server.requestsTo("/api/car/leave.do").size(), 1u);

    EXPECT_EQ(postForm(server.baseUrl() + "/api/free/car/push.do", "x=y").body, "echo:x=y");

    server.resetReplies();
    EXPECT_EQ(postForm(server.baseUrl() + "/api/order/query.do", "a=1").status, 200);
}

TEST(PlatformServer, DelayedReplyLetsClientTimeOutAndStopsPromptly) {
    auto start = std::chrono::steady_clock::now();
    {
        rig::PlatformServer server;
        server.setReply("/api/order/supp.do", {200, "late", "text/plain", 30000, ""});
        CurlResult r = postForm(server.baseUrl() + "/api/order/supp.do", "a=1",
                                [](CURL* c) { curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 300L); });
        EXPECT_EQ(r.code, CURLE_OPERATION_TIMEDOUT);
        EXPECT_TRUE(server.waitForRequests(1, 1s));
    }  // the destructor cuts the 30 s delay short
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(PlatformServer, DefaultInitReplyNamesTheBroker) {
    rig::PlatformServer server;
    server.setBroker("tcp://127.0.0.1:1234", "t/1");
    CurlResult r = postForm(server.baseUrl() + "/api/client/init.do", "a=1");
    EXPECT_NE(r.body.find("\"code\":\"0000\""), std::string::npos);
    EXPECT_NE(r.body.find("\"mqttAddress\":\"tcp://127.0.0.1:1234\""), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("\"mqttTopic\":\"t/1\""), std::string::npos);
    EXPECT_NE(r.body.find("\"mqttTimeout\":200"), std::string::npos);
    EXPECT_NE(rig::PlatformServer::defaultInitReply("a", "b"),
              rig::PlatformServer::defaultInitReply("a", "b"))
        << "client ids must differ per reply";
}

TEST(PlatformServer, TlsServerIsRefusedByDefaultAndTrustedWithItsCertificate) {
    rig::PlatformServer::Options o;
    o.tls = true;
    rig::PlatformServer server(o);
    ASSERT_EQ(server.baseUrl().rfind("https://127.0.0.1:", 0), 0u);
    CurlResult refused = postForm(server.baseUrl() + "/api/order/query.do", "a=1");
    EXPECT_TRUE(refused.code == CURLE_PEER_FAILED_VERIFICATION || refused.code == CURLE_SSL_CACERT)
        << curl_easy_strerror(refused.code);
    EXPECT_EQ(server.requestCount(), 0u);

    std::string cert = server.certFile();
    CurlResult trusted = postForm(server.baseUrl() + "/api/order/query.do", "a=1", [&](CURL* c) {
        curl_easy_setopt(c, CURLOPT_CAINFO, cert.c_str());
    });
    EXPECT_EQ(trusted.code, CURLE_OK) << curl_easy_strerror(trusted.code);
    EXPECT_EQ(server.requestsTo("/api/order/query.do").size(), 1u);
}

TEST(Signatures, AcceptsTheRightSignatureAndRefusesWrongOnes) {
    EXPECT_EQ(rig::opensslMd5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    const std::string form = "carNumber=" + rig::utf8ToGbk("陕A12345") + "&orderId=1";
    const std::string signedForm = form + "&sign=" + rig::opensslMd5Hex(form + "&key=K1");
    EXPECT_TRUE(rig::checkSign(signedForm, "K1"));
    EXPECT_FALSE(rig::checkSign(signedForm, "K2"));
    EXPECT_FALSE(
        rig::checkSign("carNumber=X&orderId=1&sign=" + rig::opensslMd5Hex(form + "&key=K1"), "K1"));
    std::string lower = signedForm;
    for (size_t i = lower.size() - 32; i < lower.size(); ++i)
        lower[i] = static_cast<char>(std::tolower(lower[i]));
    EXPECT_FALSE(rig::checkSign(lower, "K1"));
    EXPECT_FALSE(rig::checkSign(form, "K1"));

    auto pairs = rig::parseForm("a=1&b=x=y&c=&d");
    ASSERT_EQ(pairs.size(), 4u);
    EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>("b", "x=y")));
    EXPECT_EQ(pairs[2].second, "");
    EXPECT_EQ(pairs[3], (std::pair<std::string, std::string>("d", "")));
}

TEST(Encodings, GbkIndependentOfTheLibrary) {
    EXPECT_EQ(rig::hex(rig::utf8ToGbk("陕A")), "C9 C2 41");
    EXPECT_EQ(rig::gbkToUtf8(rig::utf8ToGbk("参数异常!未知的车场编号!")),
              "参数异常!未知的车场编号!");
    EXPECT_EQ(rig::hex(""), "");
}

TEST(Broker, PublishArrivesAndSurvivesRestartOnTheSamePort) {
    rig::Broker broker;
    ASSERT_TRUE(broker.running());
    const int port = broker.port();
    EXPECT_EQ(broker.uri(), "tcp://127.0.0.1:" + std::to_string(port));
    {
        rig::Subscriber sub(broker.uri(), "zolvo/t");
        ASSERT_TRUE(sub.connected());
        rig::Publisher pub(broker.uri());
        ASSERT_TRUE(pub.publish("zolvo/t", "{\"command\":\"prePay\"}"));
        std::string got;
        ASSERT_TRUE(sub.receive(got, 3s));
        EXPECT_EQ(got, "{\"command\":\"prePay\"}");
    }
    rig::Publisher pub(broker.uri());
    broker.stop();
    EXPECT_FALSE(broker.running());
    EXPECT_FALSE(pub.publish("zolvo/t", "x"));
    broker.start();
    EXPECT_TRUE(broker.running());
    EXPECT_EQ(broker.port(), port);
    rig::Subscriber sub(broker.uri(), "zolvo/t");
    ASSERT_TRUE(sub.connected());
    ASSERT_TRUE(pub.publish("zolvo/t", "after restart"));  // reconnects by itself
    std::string got;
    ASSERT_TRUE(sub.receive(got, 3s));
    EXPECT_EQ(got, "after restart");
    EXPECT_NE(broker.log().find("mosquitto"), std::string::npos);
}

TEST(Broker, PasswordsAndAclApply) {
    rig::Broker::Options o;
    o.allowAnonymous = false;
    o.users = {{"park", "secret"}};
    o.acl = "user park\ntopic readwrite zolvo/#\n";
    rig::Broker broker(o);
    EXPECT_FALSE(rig::Publisher(broker.uri()).publish("zolvo/a", "x"));
    EXPECT_FALSE(rig::Publisher(broker.uri(), "park", "wrong").publish("zolvo/a", "x"));
    EXPECT_TRUE(rig::Publisher(broker.uri(), "park", "secret").publish("zolvo/a", "x"));

    broker.setUsers({{"other", "pw"}});
    EXPECT_FALSE(rig::Publisher(broker.uri(), "park", "secret").publish("zolvo/a", "x"));
    EXPECT_TRUE(rig::Publisher(broker.uri(), "other", "pw").publish("zolvo/a", "x"));
}

TEST(Processes, OutputCaptureTempDirAndPorts) {
    std::string dirPath;
    {
        rig::TempDir dir;
        dirPath = dir.path();
        std::string f = dir.write("a.txt", "abc");
        struct stat st;
        EXPECT_EQ(stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 3);
    }
    struct stat st;
    EXPECT_NE(stat(dirPath.c_str(), &st), 0) << "temporary directory left behind";

    {
        rig::OutputCapture out(1);
        rig::OutputCapture err(2);
        std::cout << "via cout" << std::endl;
        std::printf("via printf\n");
        std::fprintf(stderr, "via stderr\n");
        EXPECT_EQ(out.text(), "via cout\nvia printf\n");
        EXPECT_EQ(err.text(), "via stderr\n");
        std::thread([] {
            std::printf("from a thread\n");
            std::fflush(stdout);
        }).join();
        EXPECT_TRUE(out.waitFor("from a thread", 1s));
    }

    int port = rig::closedPort();
    CurlResult r =
        postForm("http://127.0.0.1:" + std::to_string(port) + "/api/car/enter.do", "a=1");
    EXPECT_EQ(r.code, CURLE_COULDNT_CONNECT);
    EXPECT_TRUE(rig::waitUntil([] { return true; }, 0ms));
    EXPECT_FALSE(rig::waitUntil([] { return false; }, 30ms));
    EXPECT_EQ(std::getenv("http_proxy"), nullptr);
    EXPECT_STREQ(std::getenv("no_proxy"), "127.0.0.1,localhost");
}

}  // namespace
