// Load: 16 host threads making 500 requests each, of every function in turn,
// while commands arrive and the callback object answers each with pushOrder on
// the channel's thread. The platform echoes what identifies each request, so
// every reply can be matched to the request that asked for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <thread>

#include "command_channel.h"
#include "endpoints_and_results.h"
#include "reliability_support.h"
#include "result_text.h"

using namespace reltest;

namespace {

constexpr int kThreads = 16;
constexpr int kRequestsPerThread = 500;
constexpr int kCommands = 150;

// The reply names the endpoint and the identifier the request carried.
bool answers(const std::string& reply, const char* path, const char* key, const std::string& id) {
    return reply.find(std::string("\"path\":\"") + path + "\"") != std::string::npos &&
           reply.find(std::string("\"") + key + "\":\"" + id + "\"") != std::string::npos;
}

// Makes request `n` of thread `t`: function n % 9 with identifiers of its own.
bool request(int t, int n, const std::string& file, std::string& reply) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "T%02dN%05d", t, n);
    const std::string orderId = std::string("O") + buf;
    const std::string car = std::string("C") + buf;  // 10 bytes
    const std::string time = "20240101120000";
    switch (n % 9) {
        case 0:
            reply = ZOLVOSDK::entry(car, time, orderId, "", 1, "");
            return answers(reply, "/api/car/enter.do", "orderId", orderId);
        case 1:
            reply = ZOLVOSDK::leave(car, time, orderId, 60, 100, "", 1, "");
            return answers(reply, "/api/car/out.do", "orderId", orderId);
        case 2:
            reply = ZOLVOSDK::finish(orderId, car, time);
            return answers(reply, "/api/car/leave.do", "orderId", orderId);
        case 3:
            reply = ZOLVOSDK::freeCar(car, time, time, "load", n % 2 == 0);
            return answers(reply, "/api/free/car/push.do", "carNumber", car);
        case 4:
            reply = ZOLVOSDK::pushOrder(orderId, car, time, "IN1", time, "OUT1", 60, 100);
            return answers(reply, "/api/order/receive.do", "orderId", orderId);
        case 5:
            reply = ZOLVOSDK::queryOrder(orderId);
            return answers(reply, "/api/order/query.do", "orderId", orderId);
        case 6:
            reply = ZOLVOSDK::scanningOrder("S1", orderId, car, time, "IN1", time, "OUT1", 60, 100);
            return answers(reply, "/api/qr/order/receive.do", "orderId", orderId);
        case 7:
            reply = ZOLVOSDK::suppOrder(car, time, time, orderId, 60, 100);
            return answers(reply, "/api/order/supp.do", "orderId", orderId);
        default:
            reply = ZOLVOSDK::uploadFile(orderId, file, "1");
            return answers(reply, "/api/file/upload.do", "orderId", orderId);
    }
}

TEST(Load, SixteenThreadsOfMixedRequestsWhileCommandsAreAnswered) {
    rig::TempDir dir;
    const std::string file = dir.write("plate.jpg", std::string(512, '\x42'));
    BrokerSite site("load");  // its console: the channel's lines and the upload's speed lines
    echoIdentity(site.platform);
    CommandLog census;
    std::atomic<int> answeredRight{0}, answeredWrong{0};
    auto* object = new RecordingCommands(census);
    object->onQueryOrder = [&](const std::string&, const std::string& orderId,
                               const std::string& carNumber) {
        const std::string reply = ZOLVOSDK::pushOrder(orderId, carNumber, "20240101120000", "IN1",
                                                      "20240101130000", "OUT1", 3600, 500);
        if (answers(reply, "/api/order/receive.do", "orderId", orderId)) ++answeredRight;
        else ++answeredWrong;
    };
    ZOLVOSDK::setCommandInterface(object);
    ASSERT_TRUE(succeeded(initAgainst(site.platform.baseUrl())));
    ASSERT_TRUE(site.console.out().waitFor(site.subscribedLine(), 10s));

    std::atomic<bool> hostDone{false};
    std::atomic<int> published{0};
    std::thread commands([&] {
        rig::CliPublisher sender(site.broker.port());
        for (int i = 0; i < kCommands; ++i) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "M%05d", i);
            if (sender.publish(site.settings.topic, prePay(buf, std::string("CMD") + buf)))
                ++published;
            // Spread the commands over the host's load, then send the rest.
            if (!hostDone) std::this_thread::sleep_for(5ms);
        }
    });

    // A reply is right (the platform's answer to this very request), a failure
    // the library reports as such (none is expected: the platform is local and
    // listens with a full backlog), or wrong (anything else).
    const std::string connectionError =
        zolvo_sdk::resultText(zolvo_sdk::code::kArgument, zolvo_sdk::msg::kConnectionError);
    const std::string uploadFailed =
        zolvo_sdk::resultText(zolvo_sdk::code::kArgument, zolvo_sdk::msg::kUploadFailed);
    std::atomic<int> right{0}, failed{0};
    std::vector<std::string> wrong[kThreads];
    std::vector<std::thread> hosts;
    const auto t0 = std::chrono::steady_clock::now();
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([&, t] {
            std::this_thread::sleep_for(t * 3ms);  // a ramp rather than one burst
            std::string reply;
            for (int n = 0; n < kRequestsPerThread; ++n) {
                if (request(t, n, file, reply)) ++right;
                else if (reply == connectionError || reply == uploadFailed) ++failed;
                else wrong[t].push_back(std::to_string(n) + ": " + reply);
            }
        });
    }
    for (auto& h : hosts) h.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    hostDone = true;
    commands.join();
    // A command is counted before its answer is sent: wait for the answers.
    EXPECT_TRUE(rig::waitUntil([&] { return answeredRight + answeredWrong >= published; }, 30s));

    for (int t = 0; t < kThreads; ++t)
        for (const std::string& w : wrong[t]) ADD_FAILURE() << "thread " << t << " request " << w;
    EXPECT_EQ(right + failed, kThreads * kRequestsPerThread);
    EXPECT_EQ(failed, 0) << "requests lost to transport failures";
    EXPECT_EQ(published, kCommands);
    EXPECT_EQ(census.commands, published);
    EXPECT_EQ(answeredRight, published);
    EXPECT_EQ(answeredWrong, 0);
    {
        std::lock_guard<std::mutex> lock(census.mutex);
        EXPECT_EQ(census.orderIds.size(), size_t(kCommands));
        EXPECT_EQ(std::set<std::string>(census.orderIds.begin(), census.orderIds.end()).size(),
                  census.orderIds.size());  // none twice
    }
    // init, every request answered and every command's answer reached the platform once.
    EXPECT_EQ(site.platform.requestCount(), size_t(1 + right + answeredRight));
    ZOLVOSDK::unInit();
    {
        const std::string err = site.console.errText();
        for (size_t p = err.find("curl_easy_perform"); p != std::string::npos;
             p = err.find("curl_easy_perform", p + 1))
            site.console.note(err.substr(p, err.find('\n', p) - p));
    }
    site.console.note(
        "figures: host threads " + std::to_string(kThreads) + " x " +
        std::to_string(kRequestsPerThread) + " requests in " + std::to_string(seconds) +
        " s, commands " + std::to_string(published) +
        " answered with pushOrder on the channel's thread, transport failures " +
        std::to_string(failed) + ", wrong replies " +
        std::to_string(kThreads * kRequestsPerThread - right - failed + answeredWrong));
}

}  // namespace
