// The order of the transport's libcurl calls: every option in its place, and
// the handle, header list, form and upload file made and released at the same
// points relative to each other and to the lines on standard error. A helper
// program runs each operation against the loopback platform with a preload
// library in front of libcurl that logs each call (curl_call_log.c); it sends
// its standard error into the same log, so the lines show in their place.
// CURLOPT_HTTPPOST, which the multipart posts set, is deprecated in newer libcurl.
#define CURL_DISABLE_DEPRECATION
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "rig.h"

namespace {

using Calls = std::vector<std::string>;

// The preload list for the helper: a sanitizer's runtime (dynamically linked by
// the sanitizer builds) must come first of all, then the logging library.
std::string preloadList() {
    std::string list = ZOLVO_SANITIZER_RUNTIME;
    if (!list.empty()) list += ':';
    return list + ZOLVO_CURL_CALL_LOG_LIB;
}

struct Outcome {
    Calls calls;         // the log, one entry per line
    std::string result;  // what the operation returned
};

// Runs the helper with `args`; opens and closes of `watchedPath` are logged too.
Outcome runOperation(const std::vector<std::string>& args, const std::string& watchedPath = "") {
    rig::TempDir dir;
    const std::string log = dir.path() + "/calls.log";
    std::vector<std::string> argv = {ZOLVO_TRANSPORT_DRIVER};
    argv.insert(argv.end(), args.begin(), args.end());
    rig::ChildProcess helper(argv, {{"LD_PRELOAD", preloadList()},
                                    {"ZOLVO_CURL_CALL_LOG", log},
                                    {"ZOLVO_CURL_CALL_LOG_WATCH", watchedPath}});
    EXPECT_EQ(helper.wait(std::chrono::seconds(60)), 0)
        << "helper: " << helper.ending() << "; its log:\n"
        << rig::readFile(log);
    Outcome outcome;
    outcome.result = helper.output();

    // The speed line's figures vary from run to run; its form does not.
    const std::regex speed(R"(Speed: \d+ bytes/sec during \d+\.\d{6} seconds)");
    std::istringstream lines(rig::readFile(log));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Speed: ", 0) == 0) {
            EXPECT_TRUE(std::regex_match(line, speed)) << line;
            line = "Speed: <n> bytes/sec during <s>.<us> seconds";
        }
        outcome.calls.push_back(line);
    }
    return outcome;
}

std::string setopt(CURLoption option, long value) {
    return "setopt " + std::to_string(static_cast<int>(option)) + " " + std::to_string(value);
}
std::string setopt(CURLoption option, const char* pointer) {
    return "setopt " + std::to_string(static_cast<int>(option)) + " " + pointer;
}

std::string performed(CURLcode rc) {
    return "easy_perform " + std::to_string(static_cast<int>(rc));
}

std::string failureLine(CURLcode rc) {
    return std::string("curl_easy_perform() failed: ") + curl_easy_strerror(rc);
}

std::string getinfo(CURLINFO info) { return "getinfo " + std::to_string(static_cast<int>(info)); }

const std::string kGlobalInit = "global_init " + std::to_string(CURL_GLOBAL_DEFAULT);

// The twelve options of the form post, in their order.
const Calls kFormOptions = {
    setopt(CURLOPT_HTTPHEADER, "set"),
    setopt(CURLOPT_URL, "set"),
    setopt(CURLOPT_POST, 1L),
    setopt(CURLOPT_HEADER, 0L),
    setopt(CURLOPT_FOLLOWLOCATION, 1L),
    setopt(CURLOPT_POSTFIELDS, "set"),
    setopt(CURLOPT_READFUNCTION, "null"),
    setopt(CURLOPT_WRITEFUNCTION, "set"),
    setopt(CURLOPT_WRITEDATA, "set"),
    setopt(CURLOPT_NOSIGNAL, 1L),
    setopt(CURLOPT_CONNECTTIMEOUT, 3L),
    setopt(CURLOPT_TIMEOUT, 3L),
};

// The nine options of both multipart operations, in their order.
const Calls kMultipartOptions = {
    setopt(CURLOPT_URL, "set"),           setopt(CURLOPT_HTTPPOST, "set"),
    setopt(CURLOPT_HEADER, 0L),           setopt(CURLOPT_READFUNCTION, "null"),
    setopt(CURLOPT_WRITEFUNCTION, "set"), setopt(CURLOPT_WRITEDATA, "set"),
    setopt(CURLOPT_NOSIGNAL, 1L),         setopt(CURLOPT_CONNECTTIMEOUT, 5L),
    setopt(CURLOPT_TIMEOUT, 5L),
};

Calls concat(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::string ok(const std::string& path) {
    return "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"" + path + "\"}";
}

const char* const kQuery = "/api/order/query.do";
const char* const kEnter = "/api/car/enter.do";
const char* const kUpload = "/api/file/upload.do";

// What libcurl does with the file part during a transfer: it opens the file
// itself, reads it and closes it again.
const Calls kLibcurlReadsFile = {"fopen rb ok", "fclose"};

TEST(TransportCalls, FormPostSetsItsOptionsInOrderAndFreesListThenHandle) {
    rig::PlatformServer server;
    const Calls headers = {
        "slist_append Content-Type:application/x-www-form-urlencoded; charset=UTF-8",
        "slist_append Accept:application/json, text/javascript, */*; q=0.01",
        "slist_append Accept-Language:zh-CN,zh;q=0.8",
    };

    const Outcome sent = runOperation({"post", server.baseUrl() + kQuery, "a=1&sign=S"});
    EXPECT_EQ(sent.result, ok(kQuery));
    EXPECT_EQ(sent.calls, concat({{kGlobalInit, "easy_init"},
                                  headers,
                                  kFormOptions,
                                  {performed(CURLE_OK), "slist_free_all set", "easy_cleanup"}}));

    // A failed transfer writes its line before anything is released.
    const std::string closed = "http://127.0.0.1:" + std::to_string(rig::closedPort());
    const Outcome failed = runOperation({"post", closed + kQuery, "a=1"});
    EXPECT_EQ(failed.result, rig::resultText("1000", "连接异常!"));
    EXPECT_EQ(failed.calls,
              concat({{kGlobalInit, "easy_init"},
                      headers,
                      kFormOptions,
                      {performed(CURLE_COULDNT_CONNECT), failureLine(CURLE_COULDNT_CONNECT),
                       "slist_free_all set", "easy_cleanup"}}));
}

TEST(TransportCalls, MultipartPostChecksTheFileFirstAndFreesHandleThenForm) {
    rig::PlatformServer server;
    rig::TempDir dir;
    const std::string image = dir.write("car.jpg", "JPEG bytes");

    // The file is opened and closed before the handle is made; libcurl reads it
    // during the transfer.
    const Outcome withFile =
        runOperation({"multipart", server.baseUrl() + kEnter, "a=1", image}, image);
    EXPECT_EQ(withFile.result, ok(kEnter));
    EXPECT_EQ(withFile.calls, concat({{kGlobalInit, "fopen rb ok", "fclose", "easy_init"},
                                      kMultipartOptions,
                                      kLibcurlReadsFile,
                                      {performed(CURLE_OK), "easy_cleanup", "formfree set"}}));

    const Outcome fieldsOnly = runOperation({"multipart", server.baseUrl() + kEnter, "a=1", ""});
    EXPECT_EQ(fieldsOnly.result, ok(kEnter));
    EXPECT_EQ(fieldsOnly.calls, concat({{kGlobalInit, "easy_init"},
                                        kMultipartOptions,
                                        {performed(CURLE_OK), "easy_cleanup", "formfree set"}}));

    const std::string closed = "http://127.0.0.1:" + std::to_string(rig::closedPort());
    const Outcome failed = runOperation({"multipart", closed + kEnter, "a=1", ""});
    EXPECT_EQ(failed.result, rig::resultText("1000", "连接异常!"));
    EXPECT_EQ(failed.calls,
              concat({{kGlobalInit, "easy_init"},
                      kMultipartOptions,
                      {performed(CURLE_COULDNT_CONNECT), failureLine(CURLE_COULDNT_CONNECT),
                       "easy_cleanup", "formfree set"}}));

    // A path that names nothing, or a directory: no handle, no form, nothing sent.
    const std::string missing = dir.path() + "/missing.jpg";
    const Outcome noFile =
        runOperation({"multipart", server.baseUrl() + kEnter, "a=1", missing}, missing);
    EXPECT_EQ(noFile.result, rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(noFile.calls, Calls({kGlobalInit, "fopen rb failed"}));

    const Outcome directory =
        runOperation({"multipart", server.baseUrl() + kEnter, "a=1", dir.path()}, dir.path());
    EXPECT_EQ(directory.result, rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(directory.calls, Calls({kGlobalInit, "fopen rb ok", "fclose"}));
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST(TransportCalls, UploadKeepsTheFileOpenUntilHandleIsFreed) {
    rig::PlatformServer server;
    rig::TempDir dir;
    const std::string image = dir.write("photo.jpg", "JPEG bytes");

    const Outcome sent = runOperation({"upload", server.baseUrl() + kUpload, "a=1", image}, image);
    EXPECT_EQ(sent.result, ok(kUpload));
    EXPECT_EQ(sent.calls, concat({{kGlobalInit, "easy_init", "fopen rb ok"},
                                  kMultipartOptions,
                                  kLibcurlReadsFile,
                                  {performed(CURLE_OK), getinfo(CURLINFO_SPEED_UPLOAD_T),
                                   getinfo(CURLINFO_TOTAL_TIME_T),
                                   "Speed: <n> bytes/sec during <s>.<us> seconds", "easy_cleanup",
                                   "fclose", "formfree set"}}));

    const std::string closed = "http://127.0.0.1:" + std::to_string(rig::closedPort());
    const Outcome failed = runOperation({"upload", closed + kUpload, "a=1", image}, image);
    EXPECT_EQ(failed.result, rig::resultText("1000", "上传失败!"));
    EXPECT_EQ(failed.calls,
              concat({{kGlobalInit, "easy_init", "fopen rb ok"},
                      kMultipartOptions,
                      {performed(CURLE_COULDNT_CONNECT), failureLine(CURLE_COULDNT_CONNECT),
                       "easy_cleanup", "formfree set", "fclose"}}));

    // The handle is made before the file is looked at, and freed before a file
    // that fails its check is closed.
    const std::string missing = dir.path() + "/missing.jpg";
    const Outcome noFile =
        runOperation({"upload", server.baseUrl() + kUpload, "a=1", missing}, missing);
    EXPECT_EQ(noFile.result, rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(noFile.calls, Calls({kGlobalInit, "easy_init", "fopen rb failed", "easy_cleanup"}));

    const Outcome emptyPath = runOperation({"upload", server.baseUrl() + kUpload, "a=1", ""});
    EXPECT_EQ(emptyPath.result, rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(emptyPath.calls, Calls({kGlobalInit, "easy_init", "easy_cleanup"}));

    const Outcome directory =
        runOperation({"upload", server.baseUrl() + kUpload, "a=1", dir.path()}, dir.path());
    EXPECT_EQ(directory.result, rig::resultText("1000", "未知的文件!"));
    EXPECT_EQ(directory.calls,
              Calls({kGlobalInit, "easy_init", "fopen rb ok", "easy_cleanup", "fclose"}));
    EXPECT_EQ(server.requestCount(), 1u);
}

}  // namespace
