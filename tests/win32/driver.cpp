// The Linux side of the wine suite. Each TEST starts the rig's platform server
// (and mosquitto where commands are involved) on 127.0.0.1, runs the Windows
// host program (host.cpp) under wine against them, and checks here what the
// program printed and what the platform recorded.
//
// Environment (set by the ctest entries of the Windows build, tests/win32/CMakeLists.txt):
//   ZOLVO_WIN32_HOST, ZOLVO_WIN32_HOST_STATIC  the two host programs
//   ZOLVO_WIN32_DLLS                           the package's bin/ folder
//   ZOLVO_WIN32_PACKAGE_HOST                   the host built from the zip with
//                                              find_package, its DLLs beside it
//   ZOLVO_WIN32_PACKAGE_CLANG_HOST, ZOLVO_WIN32_PACKAGE_DLLS
//                                              the host built by README.txt's clang
//                                              recipe, and the unpacked bin/
//   WINEPREFIX                                 the suite's private prefix
// Every wine run gets WINEDEBUG=-all, WINEDLLOVERRIDES="mscoree,mshtml=",
// LC_ALL=zh_CN.GBK (ANSI code page 936) unless a test names another, and a
// time-out after which it is killed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "../reliability/exit_checks.h"
#include "../requests/wire_cases.h"
#include "broken_text_checks.h"
#include "codepage.h"
#include "command_recorder.h"
#include "result_text.h"
#include "rig.h"
#include "wine_run.h"
#include "wire_hex.h"

using namespace std::chrono_literals;

namespace {

using wirecases::kChannel;
using wirecases::kKey;
using wirecases::kParkCode;
using wirecases::kSysCode;
constexpr const char* kManufacturer = "ZOLVO-WIN32";

std::string gbk(const std::string& utf8) { return rig::utf8ToGbk(utf8); }
using rig::resultText;

std::string unhex(const std::string& text) { return wirehex::decode(text); }

using winerun::requiredEnv;

// One run of a host program under wine.
class WineRun : public winerun::WineRun {
public:
    WineRun(bool staticHost, std::vector<std::string> args, std::string lcAll = "zh_CN.GBK")
        : WineRun(requiredEnv(staticHost ? "ZOLVO_WIN32_HOST_STATIC" : "ZOLVO_WIN32_HOST"),
                  std::move(args), std::move(lcAll)) {}
    // Another program of the Windows build, or one built elsewhere with the DLLs
    // of the folder that `dllsVariable` names (none: only those beside it).
    WineRun(const std::string& program, std::vector<std::string> args,
            std::string lcAll = "zh_CN.GBK", const char* dllsVariable = "ZOLVO_WIN32_DLLS")
        : winerun::WineRun(program, std::move(args),
                           dllsVariable != nullptr ? requiredEnv(dllsVariable) : std::string(),
                           lcAll) {}
};

// Where a host program was when it ended: in its scenario, or past "DONE" in
// the process's exit (the exit handlers, static destructors, DLL detach).
std::string stepReached(const rig::ChildProcess& run) {
    const std::string out = run.output();
    if (out.find("DONE") == std::string::npos) return "ended inside its scenario";
    if (out.find("EXITING") == std::string::npos) return "ended after DONE, before exit began";
    return "ended during the process's exit, after its exit handlers began";
}

// Runs a program to its end and checks that it ended well.
#define EXPECT_RAN_TO_END(run, limitSeconds)                                     \
  do {                                                                           \
    EXPECT_EQ((run).wait(std::chrono::seconds(limitSeconds)), 0)                 \
        << (run).ending() << ", " << stepReached(run) << ":\n"                   \
        << (run).output();                                                       \
    EXPECT_NE((run).output().find("DONE"), std::string::npos) << (run).output(); \
  } while (0)

std::string hexOf(const std::string& bytes) { return rig::hex(bytes); }

// Hex without spaces, as host.cpp prints it ("-" for the empty text).
std::string compactHex(const std::string& bytes) { return wirehex::encode(bytes); }

// ------------------------------------------------------------------ init

// A platform whose init path answers with `body`.
std::unique_ptr<rig::PlatformServer> platformAnswering(const std::string& body) {
    auto server = std::make_unique<rig::PlatformServer>();
    rig::Reply reply;
    reply.body = body;
    server->setReply("/api/client/init.do", reply);
    return server;
}

void checkInitRun(const std::string& lcAll, const std::string& expectedAcp) {
    rig::PlatformServer ok;
    auto empty = platformAnswering("");
    auto bad = platformAnswering("<html>not json</html>");
    const std::string refusedBody = gbk("{\"code\":\"3001\",\"msg\":\"车场未注册\"}");
    auto refused = platformAnswering(refusedBody);
    const std::string closed = "http://127.0.0.1:" + std::to_string(rig::closedPort());

    WineRun run(
        false, {"init", ok.baseUrl(), empty->baseUrl(), bad->baseUrl(), refused->baseUrl(), closed},
        lcAll);
    EXPECT_RAN_TO_END(run, 90);
    EXPECT_NE(run.output().find("ACP " + expectedAcp + "\n"), std::string::npos) << run.output();

    const std::map<std::string, std::string> expected = {
        {"entry-before-init", resultText("1010", "SDK未初始化!")},
        {"no-callback",
         resultText("1000", "请设置回调方法!setCommandInterface() or setCallBackFun()")},
        {"no-manufacturer", resultText("1000", "参数异常!未知的厂商编号!")},
        {"no-park-code", resultText("1000", "参数异常!未知的车场编号!")},
        {"no-sys-code", resultText("1000", "参数异常!未知的收费系统编号!")},
        {"no-channel", resultText("1000", "参数异常!未知的通道编号!")},
        {"no-key", resultText("1000", "参数异常!未知的秘钥编号!")},
        {"empty-reply", resultText("2000", "初始化失败,未知的请求!")},
        {"bad-reply", resultText("2001", "初始化失败,未知的返回数据!")},
        {"refused", refusedBody},
        {"closed", resultText("1000", "连接异常!")},
        {"success", resultText("0000", "初始化成功!")},
        {"again", resultText("1010", "SDK已经初始化,请勿重复操作!")},
        {"entry-after-uninit", resultText("1010", "SDK未初始化!")},
        {"success-after-uninit", resultText("0000", "初始化成功!")},
    };
    for (const auto& [label, bytes] : expected) {
        EXPECT_EQ(hexOf(run.result(label)), hexOf(bytes)) << label;
    }

    // The init request: a signed form text in the host's code page, unconverted.
    const auto inits = ok.requestsTo("/api/client/init.do");
    ASSERT_EQ(inits.size(), 2u);
    for (const auto& request : inits) {
        EXPECT_FALSE(request.multipart);
        EXPECT_TRUE(rig::checkSign(request.body, kKey)) << request.body;
        const auto pairs = rig::parseForm(request.body);
        ASSERT_EQ(pairs.size(), 6u) << request.body;
        EXPECT_EQ(pairs[0], std::make_pair(std::string("channelNumber"), std::string(kChannel)));
        EXPECT_EQ(pairs[1],
                  std::make_pair(std::string("manufacturer"), std::string(kManufacturer)));
        EXPECT_EQ(pairs[2].first, "nonceStr");
        EXPECT_EQ(pairs[3], std::make_pair(std::string("parkCode"), std::string(kParkCode)));
        EXPECT_EQ(pairs[4], std::make_pair(std::string("sysCode"), std::string(kSysCode)));
    }
    EXPECT_NE(inits[0].body, inits[1].body) << "the nonce changes from one init to the next";
}

TEST(Win32, InitRefusalsAndRepliesAreByteExactGbk) { checkInitRun("zh_CN.GBK", "936"); }

// The library's own texts are GBK bytes whatever the system's ANSI code page is.
TEST(Win32, InitTextsStayGbkUnderAnotherAnsiCodePage) { checkInitRun("en_US.UTF-8", "1252"); }

// ------------------------------------------------------------------ requests

// The calls of host.cpp's scenario "requests" are those of the table.
TEST(Win32, NineRequestsOnTheWireAndTheFileCases) {
    rig::PlatformServer server;
    rig::TempDir dir;
    const std::string image = dir.write("in.jpg", std::string("\x89PNG\r\n\x1A\n\0\0IMG", 13));
    const std::string upload = dir.write("att.jpg", wirecases::kUploadBytes);
    // Every reply returns as it came: GBK bytes, an error status and all.
    rig::Reply reply;
    reply.status = 500;
    reply.body = gbk("{\"code\":\"9999\",\"msg\":\"平台错误\"} trailing");
    for (const auto& c : wirecases::kCases) server.setReply(c.path, reply);

    WineRun run(false, {"requests", server.baseUrl(), image, upload, dir.path()});
    EXPECT_RAN_TO_END(run, 120);
    EXPECT_EQ(run.result("init"), resultText("0000", "初始化成功!"));

    for (const auto& c : wirecases::kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hexOf(run.result(c.name)), hexOf(reply.body));
        const auto sent = server.requestsTo(c.path);
        ASSERT_GE(sent.size(), 1u);
        wirecases::checkWire(c, sent.front());
    }

    // The upload: the file as the part fileImage, and its speed line.
    const auto uploads = server.requestsTo("/api/file/upload.do");
    ASSERT_EQ(uploads.size(), 1u);
    const rig::Part* file = uploads[0].part("fileImage");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(hexOf(file->contents), hexOf(wirecases::kUploadBytes));
    EXPECT_TRUE(std::regex_search(
        run.output(), std::regex("Speed: [0-9]+ bytes/sec during [0-9]+\\.[0-9]{6} seconds")))
        << run.output();

    // An entry with an image: a multipart post with the file part.
    const auto entries = server.requestsTo("/api/car/enter.do");
    ASSERT_EQ(entries.size(), 2u) << "the missing image and the folder send nothing";
    const rig::Part* picture = entries[1].part("fileImage");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(hexOf(picture->contents), hexOf(std::string("\x89PNG\r\n\x1A\n\0\0IMG", 13)));
    EXPECT_EQ(entries[1].part("orderId")->contents, "IMG00001");
    EXPECT_TRUE(rig::checkSign(rig::utf8ToGbk(rig::wireForm(entries[1])), kKey));

    EXPECT_EQ(run.result("entry-missing-image"), resultText("1000", "未知的文件!"));
    EXPECT_EQ(run.result("entry-folder-image"), resultText("1000", "未知的文件!"));
    EXPECT_EQ(run.result("upload-missing-file"), resultText("1000", "未知的文件!"));
    EXPECT_EQ(run.result("entry-short-plate"), resultText("1000", "参数异常!未知的车牌号!"));
}

TEST(Win32, TransportFailuresAndTimeOuts) {
    rig::PlatformServer server;
    rig::TempDir dir;
    const std::string upload = dir.write("att.jpg", "JPEG");
    rig::Reply late;
    late.delayMs = 4500;  // past the form post's 3 s
    server.setReply("/api/car/leave.do", late);
    late.delayMs = 6500;  // past the multipart post's 5 s
    server.setReply("/api/car/enter.do", late);
    server.setReply("/api/file/upload.do", late);
    rig::Reply away;
    away.status = 302;
    away.location = "http://127.0.0.1:" + std::to_string(rig::closedPort()) + "/api/order/query.do";
    server.setReply("/api/order/query.do", away);

    WineRun run(false, {"transport", server.baseUrl(), upload});
    EXPECT_RAN_TO_END(run, 120);
    EXPECT_EQ(run.result("init"), resultText("0000", "初始化成功!"));
    EXPECT_EQ(hexOf(run.result("finish-timeout")), hexOf(resultText("1000", "连接异常!")));
    EXPECT_EQ(hexOf(run.result("entry-timeout")), hexOf(resultText("1000", "连接异常!")));
    EXPECT_EQ(hexOf(run.result("queryOrder-refused")), hexOf(resultText("1000", "连接异常!")));
    EXPECT_EQ(hexOf(run.result("uploadFile-timeout")), hexOf(resultText("1000", "上传失败!")));
    EXPECT_NE(run.output().find("curl_easy_perform() failed"), std::string::npos) << run.output();
}

// Wine's Schannel accepts any certificate, so only the TLS road is shown here;
// the refusal of an untrusted platform is the Linux suites'.
TEST(Win32, HttpsPlatformThroughSchannel) {
    rig::PlatformServer::Options options;
    options.tls = true;
    rig::PlatformServer server(options);
    ASSERT_EQ(server.baseUrl().rfind("https://", 0), 0u);
    WineRun run(false, {"https", server.baseUrl()});
    EXPECT_RAN_TO_END(run, 90);
    EXPECT_EQ(hexOf(run.result("init")), hexOf(resultText("0000", "初始化成功!")));
    EXPECT_EQ(run.result("queryOrder"),
              "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"/api/order/query.do\"}");
    EXPECT_EQ(server.requestsTo("/api/order/query.do").size(), 1u);
}

// A text argument that ends in a lone lead byte or a cut character: on
// Windows as on Linux every key arrives, in order, the signature last, and
// both systems send the same form for the same call.
TEST(Win32, BrokenGbkEndingsSendTheSameFormAsLinux) {
    rig::PlatformServer windows;
    WineRun run(false, {"broken", windows.baseUrl()});
    EXPECT_RAN_TO_END(run, 120);
    EXPECT_EQ(hexOf(run.result("init")), hexOf(resultText("0000", "初始化成功!")));

    // The same calls from this process, through the iconv layer.
    rig::PlatformServer onLinux;
    zolvo_sdk::ZOLVOSDK::setCallBackFun([](const char*) {});
    ASSERT_EQ(hexOf(zolvo_sdk::ZOLVOSDK::init(kManufacturer, kParkCode, kSysCode, kChannel, kKey,
                                              onLinux.baseUrl())),
              hexOf(resultText("0000", "初始化成功!")));
    const auto cases = brokentext::allCases();
    for (const auto& c : cases) brokentext::run(c);
    zolvo_sdk::ZOLVOSDK::unInit();

    const auto fromWindows = windows.requests();
    const auto fromLinux = onLinux.requests();
    ASSERT_EQ(fromWindows.size(), cases.size() + 1) << "one request a call, after the init";
    ASSERT_EQ(fromLinux.size(), cases.size() + 1);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].label());
        EXPECT_EQ(run.result(cases[i].label()).find("\"code\":\"1000\""), std::string::npos);
        brokentext::checkRequest(cases[i], fromWindows[i + 1], kKey);
        EXPECT_EQ(hexOf(rig::wireForm(fromWindows[i + 1])), hexOf(rig::wireForm(fromLinux[i + 1])));
    }
}

// ------------------------------------------------------------------ commands

using CommandRig = rig::CommandSite;

TEST(Win32, FourCommandsReachTheCallbackObject) {
    CommandRig rig("commands");
    WineRun run(false, {"commands", rig.platform.baseUrl()});
    ASSERT_TRUE(run.waitFor(rig.subscribed(), 60s)) << run.output();
    for (const rig::CommandCase& c : rig::kFourCommands) ASSERT_TRUE(rig.send(c.payload));
    EXPECT_RAN_TO_END(run, 60);
    EXPECT_EQ(run.result("all-four"), "yes");
    // The host prints each call as "R <function> <arguments joined with |>".
    for (const rig::CommandCase& c : rig::kFourCommands) {
        const std::string call = c.call;
        const size_t bar = call.find('|');
        EXPECT_EQ(hexOf(run.result(call.substr(0, bar))), hexOf(call.substr(bar + 1)));
    }
}

TEST(Win32, PayloadsReachTheCallbackFunction) {
    CommandRig rig("payloads");
    WineRun run(false, {"callback", rig.platform.baseUrl(), "3"});
    ASSERT_TRUE(run.waitFor(rig.subscribed(), 60s)) << run.output();
    const std::string gbkPayload = "\xBE\xA9"
                                   "A12345 not json";
    const std::string longPayload(1500, 'x');
    ASSERT_TRUE(rig.send(R"({"command":"prePay","orderId":"O1"})"));
    ASSERT_TRUE(rig.send(gbkPayload));
    ASSERT_TRUE(rig.send(longPayload));
    EXPECT_RAN_TO_END(run, 60);
    EXPECT_EQ(run.result("all-payloads"), "yes");
    std::vector<std::string> payloads;
    for (const auto& r : run.results()) {
        if (r.first == "payload") payloads.push_back(r.second);
    }
    ASSERT_EQ(payloads.size(), 3u) << run.output();
    EXPECT_EQ(payloads[0], R"({"command":"prePay","orderId":"O1"})");
    EXPECT_EQ(hexOf(payloads[1]), hexOf(gbkPayload));
    EXPECT_EQ(payloads[2], std::string(1023, 'x')) << "cut at 1023 bytes";
}

TEST(Win32, ReconnectsAfterABrokerRestart) {
    CommandRig rig("reconnect");
    WineRun run(true, {"reconnect", rig.platform.baseUrl()});
    ASSERT_TRUE(run.waitFor(rig.subscribed(), 60s)) << run.output();
    ASSERT_TRUE(rig.send("before"));
    ASSERT_TRUE(run.waitFor("WAIT restart", 30s)) << run.output();
    rig.broker.restart();
    run.send("go");
    // The channel reconnects after its (shortened) wait and subscribes again;
    // publish until the payload arrives.
    std::atomic<bool> stop{false};
    std::thread publisher([&] {
        while (!stop) {
            rig.send("after");
            std::this_thread::sleep_for(300ms);
        }
    });
    EXPECT_RAN_TO_END(run, 90);
    stop = true;
    publisher.join();
    EXPECT_EQ(run.result("before"), "yes");
    EXPECT_EQ(run.result("after"), "yes") << run.output();
}

TEST(Win32, FiftyUnInitInitCyclesWhileCommandsArrive) {
    CommandRig rig("cycles");
    WineRun run(false, {"cycles", rig.platform.baseUrl(), "50"});
    ASSERT_TRUE(run.waitFor("READY cycles", 60s)) << run.output();
    std::atomic<bool> stop{false};
    std::thread publisher([&] {
        int n = 0;
        while (!stop) {
            rig.send("{\"command\":\"prePay\",\"orderId\":\"C" + std::to_string(n++) + "\"}");
            std::this_thread::sleep_for(50ms);
        }
    });
    EXPECT_RAN_TO_END(run, 200);
    stop = true;
    publisher.join();
    EXPECT_EQ(run.result("succeeded"), "50") << run.output();
    EXPECT_EQ(hexOf(run.result("final-init")), hexOf(resultText("0000", "初始化成功!")));
    EXPECT_EQ(run.result("payloads-after-cycles"), "yes");
    EXPECT_EQ(rig.platform.requestsTo("/api/client/init.do").size(), 51u);
}

TEST(Win32, DestructorTearsDownWhileTheChannelRuns) {
    CommandRig rig("destructor");
    WineRun run(false, {"destructor", rig.platform.baseUrl()});
    ASSERT_TRUE(run.waitFor(rig.subscribed(), 60s)) << run.output();
    ASSERT_TRUE(
        rig.send(R"({"command":"prePay","orderId":"O1","carNumber":"C1","parkCode":"P1"})"));
    EXPECT_RAN_TO_END(run, 60);
    EXPECT_EQ(run.result("command-arrived"), "yes");
    const std::string out = run.output();
    const size_t deleted = out.find("DELETED recorder");
    ASSERT_NE(deleted, std::string::npos) << out;
    EXPECT_LT(deleted, out.find("TORN-DOWN")) << "the destructor deletes the callback object";
    EXPECT_EQ(hexOf(run.result("entry-after-teardown")), hexOf(resultText("1010", "SDK未初始化!")));
    EXPECT_EQ(hexOf(run.result("init-after-teardown")), hexOf(resultText("1010", "SDK未初始化!")));
}

// A program that hangs is killed at its time-out.
TEST(Win32, AHangingProgramIsKilledAtItsTimeOut) {
    WineRun run(false, {"hang"});
    ASSERT_TRUE(run.waitFor("READY hanging", 60s)) << run.output();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run.wait(2s), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(run.output().find("DONE"), std::string::npos);
}

// ------------------------------------------------------------------ the package

// A host built with CMake from the unpacked zip alone (package_host.sh) runs
// with that copy's DLLs: init, a request, a command, unInit.
void checkPackageHost(const char* hostVariable, const char* dllsVariable) {
    CommandRig rig("package");
    WineRun run(requiredEnv(hostVariable), {rig.platform.baseUrl()}, "zh_CN.GBK", dllsVariable);
    ASSERT_TRUE(run.waitFor(rig.subscribed(), 60s)) << run.output();
    ASSERT_TRUE(
        rig.send(R"({"command":"prePay","orderId":"O9","carNumber":"C9","parkCode":"P9"})"));
    EXPECT_RAN_TO_END(run, 60);
    EXPECT_EQ(hexOf(run.result("init")), hexOf(resultText("0000", "初始化成功!")));
    EXPECT_EQ(run.result("queryOrder"),
              "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"/api/order/query.do\"}");
    EXPECT_EQ(rig.platform.requestsTo("/api/order/query.do").size(), 1u);
    EXPECT_EQ(run.result("queryOrder-command"), "P9|O9|C9");
    EXPECT_EQ(run.result("command"), "yes");
    EXPECT_LT(std::stoi(run.result("unInit-ms")), 10000) << "unInit waits at most 10 s";
}

// Built with CMake, which copied $<TARGET_RUNTIME_DLLS> beside it: it runs
// from its build folder with nothing on WINEPATH.
TEST(Win32, PackageHostFromTheZipRunsInitRequestCommandUnInit) {
    checkPackageHost("ZOLVO_WIN32_PACKAGE_HOST", nullptr);
}

// Built by README.txt's clang recipe, word for word; its global constructors
// run before main.
TEST(Win32, PackageHostBuiltByTheReadmesClangRecipeRuns) {
    checkPackageHost("ZOLVO_WIN32_PACKAGE_CLANG_HOST", "ZOLVO_WIN32_PACKAGE_DLLS");
}

// The version resource of the packaged DLL, read back through GetFileVersionInfo.
TEST(Win32, VersionResourceCarriesTheProjectVersion) {
    WineRun run(false, {"version"});
    EXPECT_RAN_TO_END(run, 60);
    const std::string version = std::string(ZOLVO_PROJECT_VERSION) + ".0";
    const std::string path = run.result("path");
    EXPECT_NE(path.find("ZOLVO_SDK.dll"), std::string::npos) << path;
    EXPECT_EQ(run.result("fixed-file"), version);
    EXPECT_EQ(run.result("fixed-product"), version);
    EXPECT_EQ(run.result("file-type"), "2") << "VFT_DLL";
    EXPECT_EQ(run.result("FileVersion"), version);
    EXPECT_EQ(run.result("ProductVersion"), version);
    EXPECT_EQ(run.result("ProductName"), "ZOLVO_SDK");
    EXPECT_EQ(run.result("CompanyName"), "");
    EXPECT_EQ(run.result("OriginalFilename"), "ZOLVO_SDK.dll");
}

// ------------------------------------------------------------------ process exit

// A host DLL ends the library from a global object, which runs after every
// other thread of the process is gone: the process still ends at once, with
// the exit code that main returned.
void checkWineExit(const char* hostVariable, const std::string& mode) {
    const std::string host = requiredEnv(hostVariable);
    exitcheck::checkProcessExit(
        [&](const std::vector<std::string>& args) { return std::make_unique<WineRun>(host, args); },
        mode);
}

TEST(Win32, ExitWithUnInitInAGlobalObjectWhileIdle) {
    checkWineExit("ZOLVO_WIN32_EXIT_HOST_UNINIT", "idle");
}
TEST(Win32, ExitWithUnInitInAGlobalObjectWhileCommandsArrive) {
    checkWineExit("ZOLVO_WIN32_EXIT_HOST_UNINIT", "commands");
}
TEST(Win32, ExitWithUnInitInAGlobalObjectWhileACallbackIsInARequest) {
    checkWineExit("ZOLVO_WIN32_EXIT_HOST_UNINIT", "callback");
}
TEST(Win32, ExitWithAGlobalLibraryObjectWhileIdle) {
    checkWineExit("ZOLVO_WIN32_EXIT_HOST_OBJECT", "idle");
}
TEST(Win32, ExitWithAGlobalLibraryObjectWhileCommandsArrive) {
    checkWineExit("ZOLVO_WIN32_EXIT_HOST_OBJECT", "commands");
}
TEST(Win32, ExitWithAGlobalLibraryObjectWhileACallbackIsInARequest) {
    checkWineExit("ZOLVO_WIN32_EXIT_HOST_OBJECT", "callback");
}

// unInit, init and the destructor on three threads: no channel outlives the
// destructor, also when the init won the race.
TEST(Win32, NoChannelOutlivesADestructorRacingInitAndUnInit) {
    const std::string host = requiredEnv("ZOLVO_WIN32_EXIT_HOST_UNINIT");
    exitcheck::checkTeardownRace(
        [&](const std::vector<std::string>& args) { return std::make_unique<WineRun>(host, args); },
        30);
}

// ------------------------------------------------------------------ code pages

// The pairs where the Windows layer (wine's code page 936) and iconv (glibc's
// GBK) differ: facts of the two tables, kept here so that a change in either
// shows. Over every pair that glibc's GBK maps, both give the same UTF-8. The
// pairs below are the user-defined areas (AAA1–AFFE, F8A1–FEFE, A140–A7A0) and
// the scattered pairs that GB18030 later filled: glibc refuses them (the
// layer's replacement U+FFFD), Windows maps them to the Private Use Area, run
// by run to consecutive code points.
struct DifferingRun {
    unsigned first;      // first GBK pair of the run
    unsigned last;       // last GBK pair
    unsigned codePoint;  // what Windows makes of the first pair
    unsigned count;      // pairs in the run
};
const DifferingRun kExpectedDifferences[] = {
#include "codepage_differences.inc"
};

std::string utf8Of(unsigned codePoint) {
    std::string out;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return out;
}

// The pair after `pair` in the order of the walk (trail 40–7E, 80–FE).
unsigned nextPair(unsigned pair) {
    unsigned lead = pair >> 8, trail = (pair & 0xFF) + 1;
    if (trail == 0x7F) trail = 0x80;
    if (trail == 0xFF) {
        ++lead;
        trail = 0x40;
    }
    return (lead << 8) | trail;
}

TEST(Win32, CodePageLayerAgainstIconvOverEveryGbkPair) {
    // What Windows is expected to give for each pair of the table.
    std::map<std::string, std::string> expectedWindows;
    for (const auto& run : kExpectedDifferences) {
        unsigned pair = run.first;
        for (unsigned i = 0; i < run.count; ++i, pair = nextPair(pair)) {
            char name[8];
            std::snprintf(name, sizeof name, "%04X", pair);
            expectedWindows[name] = compactHex(utf8Of(run.codePoint + i));
            if (i + 1 == run.count) {
                EXPECT_EQ(pair, run.last) << "table run " << std::hex << run.first;
            }
        }
    }
    ASSERT_EQ(expectedWindows.size(), 2149u);

    rig::TempDir dir;
    const std::string file = dir.path() + "/pairs.txt";
    WineRun run(true, {"codepage", file});
    EXPECT_RAN_TO_END(run, 120);
    EXPECT_EQ(hexOf(run.result("resultText")), hexOf(resultText("1010", "SDK未初始化!")));

    std::ifstream in(file);
    ASSERT_TRUE(in.good()) << file;
    size_t pairs = 0, validPairs = 0, differing = 0;
    std::string pairHex, winUtf8, winGbk, winAnsi;
    while (in >> pairHex >> winUtf8 >> winGbk >> winAnsi) {
        ++pairs;
        const std::string iconvUtf8 = compactHex(zolvo_sdk::ansiToUtf8(unhex(pairHex)));
        const bool iconvValid = iconvUtf8.find("EFBFBD") == std::string::npos;
        if (iconvValid) ++validPairs;
        if (winUtf8 != iconvUtf8) ++differing;
        const auto expected = expectedWindows.find(pairHex);
        if (expected == expectedWindows.end()) {
            EXPECT_EQ(winUtf8, iconvUtf8) << "new difference at pair " << pairHex;
            EXPECT_TRUE(iconvValid) << "pair " << pairHex << " refused by both";
        } else {
            EXPECT_EQ(winUtf8, expected->second) << "pair " << pairHex;
            EXPECT_FALSE(iconvValid)
                << "glibc's GBK now maps pair " << pairHex << " to " << iconvUtf8;
        }
        // Under code page 936 the ANSI direction and the GBK direction agree,
        // and every pair comes back to itself through the Windows layer.
        EXPECT_EQ(winGbk, winAnsi) << pairHex;
        EXPECT_EQ(winGbk, pairHex);
    }
    EXPECT_EQ(pairs, 126u * 190u);
    EXPECT_EQ(differing, expectedWindows.size());

    // Bytes that are no GBK text: both layers replace rather than refuse. A
    // lead byte that no trail byte follows is one U+FFFD on both systems, and
    // the byte after it is converted on its own (the space of 81 20 stays).
    // That byte alone is where they differ: Windows maps FF into the Private
    // Use Area, iconv refuses it.
    struct OddText {
        std::string text, windows, iconv;
    };
    const OddText oddTexts[] = {
        {"\x80", "E282AC", "E282AC"},  // the euro sign, alike
        {"\xFF", "EFA3B5", "EFBFBD"},
        {"A\x81", "41EFBFBD", "41EFBFBD"},
        {"\x81\x20"
         "B",
         "EFBFBD2042", "EFBFBD2042"},
        {"\xA1\x7F", "EFBFBD7F", "EFBFBD7F"},
        {"\xFE\xFF", "EFBFBDEFA3B5", "EFBFBDEFBFBD"},
        {"\xD6&\xD6\xD0", "EFBFBD26E4B8AD", "EFBFBD26E4B8AD"},
    };
    for (const auto& odd : oddTexts) {
        EXPECT_EQ(compactHex(run.result("odd-" + compactHex(odd.text))), odd.windows)
            << compactHex(odd.text);
        EXPECT_EQ(compactHex(zolvo_sdk::ansiToUtf8(odd.text)), odd.iconv) << compactHex(odd.text);
    }

    // Every lead byte before every byte that cannot trail it (01-3F, 7F, FF).
    std::ifstream broken(dir.path() + "/broken.txt");
    ASSERT_TRUE(broken.good());
    size_t brokenPairs = 0;
    while (broken >> pairHex >> winUtf8) {
        ++brokenPairs;
        const std::string bytes = unhex(pairHex);
        const bool ff = static_cast<unsigned char>(bytes[1]) == 0xFF;
        const std::string next = ff ? "EFA3B5" : compactHex(bytes.substr(1));
        EXPECT_EQ(winUtf8, "EFBFBD" + next) << pairHex;
        EXPECT_EQ(compactHex(zolvo_sdk::ansiToUtf8(bytes)), "EFBFBD" + (ff ? "EFBFBD" : next))
            << pairHex;
    }
    EXPECT_EQ(brokenPairs, 126u * 65u);
    std::cout << pairs << " pairs; " << validPairs
              << " mapped by glibc's GBK, the same on Windows; " << differing
              << " differ (the expected table)" << std::endl;
}

}  // namespace
