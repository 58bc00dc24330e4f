// Lifetimes under stress: init and unInit over and over while commands arrive,
// registrations changed while a command is being dispatched, and the library
// torn down in the middle of a dispatch. No crash, no sanitizer report, and
// every callback object is deleted exactly once.
#include <gtest/gtest.h>

#include <condition_variable>
#include <iostream>
#include <thread>

#include "mqtt_channel.h"
#include "reliability_support.h"
#include "sdk_state.h"

using namespace reltest;

namespace {

// Publishes numbered commands until stopped (bounded in count).
class CommandStream {
public:
    CommandStream(int port, std::string topic) : sender_(port), topic_(std::move(topic)) {
        thread_ = std::thread([this] {
            for (int i = 0; i < 20000 && !stop_; ++i)
                if (sender_.publish(topic_, prePay("s" + std::to_string(i)))) ++published_;
        });
    }
    ~CommandStream() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int published() const { return published_; }

private:
    rig::CliPublisher sender_;
    std::string topic_;
    std::atomic<bool> stop_{false};
    std::atomic<int> published_{0};
    std::thread thread_;
};

class Lifecycle : public ::testing::Test {
protected:
    rig::Broker broker;
    rig::PlatformServer platform;
    InitSettings settings;
    Console console;
    const rig::OutputCapture& out = console.out();
    Census census;

    void SetUp() override {
        settings.uri = broker.uri();
        settings.topic = uniqueTopic("life");
        settings.receiveTimeoutMs = 20;
        platform.setHandler("/api/client/init.do", [this](const rig::RecordedRequest&) {
            rig::Reply reply;
            reply.body = initReply(settings);
            return reply;
        });
        zolvo_sdk::setReconnectWaitForTesting(50ms);
    }
    size_t subscriptions() {
        return occurrences(out.text(), "sub topic: " + settings.topic + " ,return code : 0\n");
    }
};

std::atomic<int> g_payloads{0};
void countPayload(const char*) { ++g_payloads; }

TEST_F(Lifecycle, TwoHundredUnInitInitCyclesWhileCommandsArrive) {
    constexpr int kCycles = 200;
    ZOLVOSDK::setCommandInterface(new Counted(census));
    CommandStream stream(broker.port(), settings.topic);
    int swaps = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const std::string reply = initAgainst(platform.baseUrl());
        ASSERT_TRUE(succeeded(reply)) << "cycle " << cycle << ": " << reply;
        if (cycle % 10 == 5) {
            // While the channel dispatches to the object it was handed, the
            // host registers a function (the object goes) and then a new object.
            const int before = census.commands;
            rig::waitUntil([&] { return census.commands > before; }, 2s);
            ZOLVOSDK::setCallBackFun(&countPayload);
            ZOLVOSDK::setCommandInterface(new Counted(census));
            ++swaps;
        } else if (cycle % 4 == 0) {
            // Sometimes let the channel connect before it is stopped again.
            rig::waitUntil([&] { return subscriptions() > 0; }, 2s);
        }
        ZOLVOSDK::unInit();
    }
    stream.stop();
    EXPECT_EQ(zolvo_sdk::channelThreadCountForTesting(), 0u);
    EXPECT_GT(census.commands, 0);
    { ZOLVOSDK teardown; }
    EXPECT_TRUE(census.eachDeletedOnce());
    EXPECT_EQ(census.constructed, swaps + 1);
    EXPECT_EQ(census.callsAfterDelete, 0);
    console.note("figures: init/unInit cycles " + std::to_string(kCycles) +
                 ", registration swaps " + std::to_string(swaps) + ", commands published " +
                 std::to_string(stream.published()) + ", dispatched to objects " +
                 std::to_string(census.commands) + ", channel subscriptions " +
                 std::to_string(subscriptions()));
}

// Holds the channel's thread inside queryOrder until released.
class Blocking : public Counted {
public:
    explicit Blocking(Census& census) : Counted(census) {
        onCommand = [this](const std::string&, const std::string&, const std::string&) {
            std::unique_lock<std::mutex> lock(m_);
            inside_ = true;
            cv_.notify_all();
            cv_.wait_for(lock, 10s, [this] { return released_; });
            returned_ = true;
        };
    }
    bool waitInside() {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, 10s, [this] { return inside_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_);
        released_ = true;
        cv_.notify_all();
    }
    static std::atomic<bool> returned_;

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool inside_ = false, released_ = false;
};
std::atomic<bool> Blocking::returned_{false};

TEST_F(Lifecycle, DestructorWhileACommandIsDispatched) {
    auto* object = new Blocking(census);
    ZOLVOSDK::setCommandInterface(object);
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    ASSERT_TRUE(rig::waitUntil([&] { return subscriptions() == 1; }, 10s));
    rig::CliPublisher sender(broker.port());
    ASSERT_TRUE(sender.publish(settings.topic, prePay("held")));
    ASSERT_TRUE(sender.publish(settings.topic, prePay("queued")));
    ASSERT_TRUE(object->waitInside());

    std::thread releaser([object] {
        std::this_thread::sleep_for(300ms);
        object->release();
    });
    {
        ZOLVOSDK teardown;
    }  // waits for the running call, which then ends the channel
    releaser.join();
    EXPECT_TRUE(Blocking::returned_);
    ASSERT_TRUE(rig::waitUntil([&] { return census.deletedCount() == 1; }, 5s));
    EXPECT_TRUE(census.eachDeletedOnce());
    EXPECT_EQ(census.callsAfterDelete, 0);
    EXPECT_TRUE(rig::waitUntil([] { return zolvo_sdk::channelThreadCountForTesting() == 0; }, 5s));
    EXPECT_EQ(zolvo_sdk::g_config, nullptr);
    EXPECT_EQ(zolvo_sdk::g_mqttClient, nullptr);
    // Nothing is left to use: every function refuses, no command is dispatched.
    EXPECT_FALSE(succeeded(ZOLVOSDK::queryOrder("late")));
    ASSERT_TRUE(sender.publish(settings.topic, prePay("after")));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(census.commands, 1);
}

}  // namespace
