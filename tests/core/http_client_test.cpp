// The transport against a real HTTP(S) server on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "codepage.h"
#include "http_client.h"
#include "rig.h"

namespace {

using zolvo_sdk::HttpClient;

const char* const kQuery = "/api/order/query.do";
const char* const kEnter = "/api/car/enter.do";
const char* const kUpload = "/api/file/upload.do";

TEST(HttpPost, SendsHeadersAndBodyByteForByte) {
    rig::PlatformServer server;
    // Space, "+", "%" and GBK bytes go out unescaped.
    const std::string body = "orderId=A 1+2%20&parkCode=\xC9\xC2P01&sign=ABC";
    HttpClient client;
    const std::string reply = client.post(server.baseUrl() + kQuery, body);
    EXPECT_EQ(reply, "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"/api/order/query.do\"}");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const rig::RecordedRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, kQuery);
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
    EXPECT_EQ(r.header("Accept"), "application/json, text/javascript, */*; q=0.01");
    EXPECT_EQ(r.header("Accept-Language"), "zh-CN,zh;q=0.8");
}

TEST(HttpPost, ErrorStatusBodiesAndEmptyBodiesComeBackUnchanged) {
    rig::PlatformServer server;
    rig::Reply notFound;
    notFound.status = 404;
    notFound.body = "{\"error\":\"not here\"}";
    server.setReply(kQuery, notFound);
    rig::Reply serverError;
    serverError.status = 500;
    serverError.body = "boom \xC9\xC2";
    serverError.contentType = "text/plain";
    server.setReply(kEnter, serverError);
    rig::Reply empty;
    empty.body = "";
    server.setReply(kUpload, empty);

    HttpClient client;
    EXPECT_EQ(client.post(server.baseUrl() + kQuery, "a=1"), notFound.body);
    EXPECT_EQ(client.postMultipart(server.baseUrl() + kEnter, "a=1", ""), serverError.body);
    EXPECT_EQ(client.post(server.baseUrl() + kUpload, "a=1"), "");
    EXPECT_EQ(client.postMultipart(server.baseUrl() + kUpload, "a=1", ""), "");
}

TEST(HttpPost, FormPostFollowsRedirectMultipartDoesNot) {
    rig::PlatformServer server;
    rig::Reply redirect;
    redirect.status = 302;
    redirect.body = "moved";
    redirect.contentType = "text/plain";
    redirect.location = server.baseUrl() + "/api/order/supp.do";
    server.setReply(kQuery, redirect);

    HttpClient client;
    EXPECT_EQ(client.post(server.baseUrl() + kQuery, "a=1"),
              "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"/api/order/supp.do\"}");
    EXPECT_EQ(server.requestsTo("/api/order/supp.do").size(), 1u);

    server.clearRequests();
    EXPECT_EQ(client.postMultipart(server.baseUrl() + kQuery, "a=1", ""), "moved");
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(HttpPost, UnreachablePlatformGivesConnectionErrorAndStderrLine) {
    const std::string url = "http://127.0.0.1:" + std::to_string(rig::closedPort()) + kQuery;
    HttpClient client;
    rig::OutputCapture err(2);
    rig::OutputCapture out(1);
    EXPECT_EQ(client.post(url, "a=1"), rig::resultText("1000", "连接异常!"));
    EXPECT_EQ(client.postMultipart(url, "a=1", ""), rig::resultText("1000", "连接异常!"));
    rig::TempDir dir;
    EXPECT_EQ(client.postFile(url, "a=1", dir.write("f.jpg", "x")),
              rig::resultText("1000", "上传失败!"));
    const std::string line = "curl_easy_perform() failed: Couldn't connect to server\n";
    const std::string text = err.text();
    EXPECT_EQ(text, line + line + line);
    EXPECT_EQ(out.text(), "");
}

TEST(HttpPost, SlowPlatformTimesOutAfterThreeSeconds) {
    rig::PlatformServer server;
    rig::Reply slow;
    slow.delayMs = 4500;
    slow.body = "late";
    server.setReply(kQuery, slow);
    HttpClient client;
    rig::OutputCapture err(2);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.post(server.baseUrl() + kQuery, "a=1"), rig::resultText("1000", "连接异常!"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(2800));
    EXPECT_LT(elapsed, std::chrono::milliseconds(4400));
    EXPECT_NE(err.text().find("curl_easy_perform() failed: Timeout was reached"),
              std::string::npos);
}

TEST(HttpPost, UntrustedCertificateIsRefused) {
    rig::PlatformServer::Options options;
    options.tls = true;
    rig::PlatformServer server(options);
    HttpClient client;
    rig::OutputCapture err(2);
    EXPECT_EQ(client.post(server.baseUrl() + kQuery, "a=1"), rig::resultText("1000", "连接异常!"));
    EXPECT_EQ(client.postMultipart(server.baseUrl() + kEnter, "a=1", ""),
              rig::resultText("1000", "连接异常!"));
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_NE(err.text().find("curl_easy_perform() failed: "), std::string::npos);
}

TEST(Multipart, FilePartFirstThenFieldsSplitAtFirstEquals) {
    rig::PlatformServer server;
    rig::TempDir dir;
    const std::string image = std::string("\xFF\xD8\x00\x01jpeg", 7);
    const std::string path = dir.write("car.jpg", image);
    HttpClient client;
    const std::string form = "a=1&b=&c=x=y&bare&sign=S";
    EXPECT_EQ(client.postMultipart(server.baseUrl() + kEnter, form, path),
              "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"/api/car/enter.do\"}");

    const auto requests = server.requestsTo(kEnter);
    ASSERT_EQ(requests.size(), 1u);
    const auto& parts = requests[0].parts;
    ASSERT_EQ(parts.size(), 6u);
    EXPECT_EQ(parts[0].name, "fileImage");
    EXPECT_EQ(parts[0].filename, "car.jpg");
    EXPECT_EQ(parts[0].contents, image);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"a", "1"}, {"b", ""}, {"c", "x=y"}, {"bare", ""}, {"sign", "S"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(parts[i + 1].name, expected[i].first);
        EXPECT_EQ(parts[i + 1].contents, expected[i].second) << parts[i + 1].name;
        EXPECT_EQ(parts[i + 1].filename, "");
    }
    // The fields rebuild the signed text exactly.
    EXPECT_EQ(rig::formFromParts(parts), "a=1&b=&c=x=y&bare=&sign=S");
}

TEST(Multipart, NoFileMissingFileAndFileChecks) {
    rig::PlatformServer server;
    HttpClient client;
    // No path (or one starting with NUL): the fields alone.
    client.postMultipart(server.baseUrl() + kEnter, "a=1&sign=S", "");
    client.postMultipart(server.baseUrl() + kEnter, "a=1&sign=S", std::string("\0x", 2));
    auto requests = server.requestsTo(kEnter);
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.part("fileImage"), nullptr);
        EXPECT_EQ(rig::formFromParts(r.parts), "a=1&sign=S");
    }
    server.clearRequests();

    rig::TempDir dir;
    const std::string missing = dir.path() + "/none.jpg";
    EXPECT_EQ(client.postMultipart(server.baseUrl() + kEnter, "a=1", missing),
              rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(client.postFile(server.baseUrl() + kUpload, "a=1", missing),
              rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(client.postFile(server.baseUrl() + kUpload, "a=1", ""),
              rig::resultText("1000", "未知的文件!"));
    // A directory is no file to send.
    EXPECT_EQ(client.postMultipart(server.baseUrl() + kEnter, "a=1", dir.path()),
              rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(client.postFile(server.baseUrl() + kUpload, "a=1", dir.path()),
              rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(server.requestCount(), 0u);
}

// "Speed: <digits> bytes/sec during <digits>.<six digits> seconds\n"
bool isSpeedLine(const std::string& text) {
    size_t i = 0;
    auto literal = [&](const char* word) {
        const size_t n = std::strlen(word);
        if (text.compare(i, n, word) != 0) return false;
        i += n;
        return true;
    };
    auto digits = [&](size_t exact) {
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return exact == 0 ? i > start : i - start == exact;
    };
    return literal("Speed: ") && digits(0) && literal(" bytes/sec during ") && digits(0) &&
           literal(".") && digits(6) && literal(" seconds\n") && i == text.size();
}

TEST(Multipart, UploadOfZeroByteFileWritesSpeedLine) {
    rig::PlatformServer server;
    rig::TempDir dir;
    const std::string path = dir.write("empty.jpg", "");
    HttpClient client;
    rig::OutputCapture err(2);
    EXPECT_EQ(client.postFile(server.baseUrl() + kUpload, "orderId=A1&sign=S", path),
              "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"/api/file/upload.do\"}");
    const auto requests = server.requestsTo(kUpload);
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].parts.size(), 3u);
    EXPECT_EQ(requests[0].parts[0].name, "fileImage");
    EXPECT_EQ(requests[0].parts[0].contents, "");
    EXPECT_EQ(rig::formFromParts(requests[0].parts), "orderId=A1&sign=S");
    const std::string text = err.text();
    EXPECT_TRUE(isSpeedLine(text)) << text;
}

}  // namespace
