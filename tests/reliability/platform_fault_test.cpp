// The platform misbehaving: unreachable, slower than the time-outs, answering
// 500, nothing, a cut-off body, redirecting to itself, or 50 MB. Every call
// returns within its time-out (or with the whole body), and the library keeps
// working against a healthy platform afterwards.
#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "endpoints_and_results.h"
#include "raw_server.h"
#include "reliability_support.h"
#include "result_text.h"

using namespace reltest;
namespace z = zolvo_sdk;

namespace {

using Clock = std::chrono::steady_clock;

struct Timed {
    std::string reply;
    Clock::duration took{};
};

template <typename F>
std::future<Timed> timed(F call) {
    return std::async(std::launch::async, [call] {
        auto t0 = Clock::now();
        Timed t;
        t.reply = call();
        t.took = Clock::now() - t0;
        return t;
    });
}

std::string connectionError() {
    return z::resultText(z::code::kArgument, z::msg::kConnectionError);
}

class PlatformFault : public ::testing::Test {
protected:
    rig::OutputCapture err{2};  // transport failures write a line each
    rig::TempDir dir;
    std::string image = dir.write("plate.jpg", std::string(2048, '\x5a'));

    void SetUp() override { ZOLVOSDK::setCallBackFun(&ignorePayload); }
    void TearDown() override { ZOLVOSDK::unInit(); }

    // One call of each transport at the same time: the form post (3 s), the
    // multipart post without a file and the upload (5 s each).
    struct Three {
        Timed form, multipart, upload;
    };
    Three callEachTransport(const std::string& orderId) {
        auto form = timed([orderId] { return ZOLVOSDK::queryOrder(orderId); });
        auto multipart = timed([orderId] {
            return ZOLVOSDK::entry("粤B12345X", "20240101120000", orderId, "", 1, "");
        });
        const std::string file = image;
        auto upload = timed([orderId, file] { return ZOLVOSDK::uploadFile(orderId, file, "1"); });
        return {form.get(), multipart.get(), upload.get()};
    }

    // Re-initialises against a healthy platform and makes one call of each transport.
    void expectUsableAgain() {
        ZOLVOSDK::unInit();
        rig::PlatformServer healthy;
        echoIdentity(healthy);
        ASSERT_TRUE(succeeded(initAgainst(healthy.baseUrl())));
        Three t = callEachTransport("after-fault");
        for (const std::string* reply : {&t.form.reply, &t.multipart.reply, &t.upload.reply})
            EXPECT_NE(reply->find("\"orderId\":\"after-fault\""), std::string::npos) << *reply;
    }
};

TEST_F(PlatformFault, UnreachablePlatformFailsAtOnce) {
    auto platform = std::make_unique<rig::PlatformServer>();
    ASSERT_TRUE(succeeded(initAgainst(platform->baseUrl())));
    platform.reset();  // nothing listens on its port any more

    Three t = callEachTransport("gone");
    EXPECT_EQ(t.form.reply, connectionError());
    EXPECT_EQ(t.multipart.reply, connectionError());
    EXPECT_EQ(t.upload.reply, z::resultText(z::code::kArgument, z::msg::kUploadFailed));
    for (const Timed* c : {&t.form, &t.multipart, &t.upload}) EXPECT_LT(c->took, kSlack);
    expectUsableAgain();
}

TEST_F(PlatformFault, SlowPlatformIsLeftAtTheTimeOuts) {
    rig::PlatformServer platform;
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    rig::Reply slow;
    slow.body = R"({"code":"0000"})";
    slow.delayMs = 9000;
    for (const char* path :
         {z::endpoint::kOrderQuery, z::endpoint::kEnter, z::endpoint::kFileUpload})
        platform.setReply(path, slow);

    Three t = callEachTransport("slow");
    EXPECT_EQ(t.form.reply, connectionError());
    EXPECT_EQ(t.multipart.reply, connectionError());
    EXPECT_EQ(t.upload.reply, z::resultText(z::code::kArgument, z::msg::kUploadFailed));
    EXPECT_GE(t.form.took, 2900ms);
    EXPECT_LT(t.form.took, 3s + kSlack);
    EXPECT_GE(t.multipart.took, 4900ms);
    EXPECT_LT(t.multipart.took, 5s + kSlack);
    EXPECT_LT(t.upload.took, 5s + kSlack);
    expectUsableAgain();
}

TEST_F(PlatformFault, ErrorStatusEmptyBodyAndRedirectLoop) {
    rig::PlatformServer platform;
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));

    // 500 with a body: the body is the result, as it came.
    rig::Reply failing;
    failing.status = 500;
    failing.body = R"({"code":"9999","msg":"internal"})";
    platform.setReply(z::endpoint::kOrderQuery, failing);
    platform.setReply(z::endpoint::kEnter, failing);
    platform.setReply(z::endpoint::kFileUpload, failing);
    Three t = callEachTransport("500");
    EXPECT_EQ(t.form.reply, failing.body);
    EXPECT_EQ(t.multipart.reply, failing.body);
    EXPECT_EQ(t.upload.reply, failing.body);

    // 200 with nothing: an empty result.
    rig::Reply empty;
    empty.contentType.clear();
    platform.setReply(z::endpoint::kOrderQuery, empty);
    platform.setReply(z::endpoint::kEnter, empty);
    platform.setReply(z::endpoint::kFileUpload, empty);
    t = callEachTransport("empty");
    EXPECT_EQ(t.form.reply, "");
    EXPECT_EQ(t.multipart.reply, "");
    EXPECT_EQ(t.upload.reply, "");

    // A redirect to itself: the form post follows it until its time-out and
    // reports the failure; the multipart posts do not follow at all.
    rig::Reply loop;
    loop.status = 307;
    loop.body = "again";
    loop.contentType = "text/plain";
    for (const char* path :
         {z::endpoint::kOrderQuery, z::endpoint::kEnter, z::endpoint::kFileUpload}) {
        loop.location = platform.baseUrl() + path;
        platform.setReply(path, loop);
    }
    platform.clearRequests();
    t = callEachTransport("loop");
    EXPECT_EQ(t.form.reply, connectionError());
    EXPECT_LT(t.form.took, 3s + kSlack);
    EXPECT_EQ(t.multipart.reply, "again");
    EXPECT_EQ(t.upload.reply, "again");
    EXPECT_EQ(platform.requestsTo(z::endpoint::kEnter).size(), 1u);
    expectUsableAgain();
}

TEST_F(PlatformFault, TruncatedBodyIsAFailureNotAReply) {
    InitSettings settings;
    settings.uri = "tcp://127.0.0.1:" + std::to_string(rig::closedPort());
    settings.topic = uniqueTopic("cut");
    TruncatingServer platform(initReply(settings));
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    Three t = callEachTransport("cut");
    EXPECT_EQ(t.form.reply, connectionError());
    EXPECT_EQ(t.multipart.reply, connectionError());
    EXPECT_EQ(t.upload.reply, z::resultText(z::code::kArgument, z::msg::kUploadFailed));
    for (const Timed* c : {&t.form, &t.multipart, &t.upload}) EXPECT_LT(c->took, kSlack);
    EXPECT_EQ(platform.truncatedReplies(), 3);
    expectUsableAgain();
}

TEST_F(PlatformFault, FiftyMegabyteBodyComesBackWhole) {
    rig::PlatformServer platform;
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    rig::Reply huge;
    huge.body = "{\"code\":\"0000\",\"pad\":\"" + std::string(50u << 20, 'x') + "\"}";
    for (const char* path :
         {z::endpoint::kOrderQuery, z::endpoint::kEnter, z::endpoint::kFileUpload})
        platform.setReply(path, huge);
    Three t = callEachTransport("huge");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Three 50 MB transfers at once may outlast the time-outs in a sanitizer
    // build: then the failure is reported in time instead.
    auto wholeOrInTime = [&](const Timed& c, const std::string& failure, auto limit) {
        return c.reply == huge.body || (c.reply == failure && c.took < limit + kSlack);
    };
    EXPECT_TRUE(wholeOrInTime(t.form, connectionError(), 3s)) << t.form.reply.size();
    EXPECT_TRUE(wholeOrInTime(t.multipart, connectionError(), 5s)) << t.multipart.reply.size();
    EXPECT_TRUE(
        wholeOrInTime(t.upload, z::resultText(z::code::kArgument, z::msg::kUploadFailed), 5s))
        << t.upload.reply.size();
#else
    EXPECT_TRUE(t.form.reply == huge.body) << t.form.reply.size();
    EXPECT_TRUE(t.multipart.reply == huge.body) << t.multipart.reply.size();
    EXPECT_TRUE(t.upload.reply == huge.body) << t.upload.reply.size();
#endif
    expectUsableAgain();
}

}  // namespace
