// Stopping the channel (unInit, teardown) and the lifetime of the callback object.
#include <gtest/gtest.h>

#include <condition_variable>
#include <iostream>
#include <thread>

#include "channel_support.h"

using namespace chantest;
using zolvo_sdk::ZOLVOSDK;

namespace {

using Clock = std::chrono::steady_clock;

class Stop : public ::testing::Test {
protected:
    rig::Broker broker;
    Sender sender{broker.port()};
    std::string topic = uniqueId("topic");
    rig::OutputCapture out{1};
    Calls calls;

    void start(size_t subscriptions = 1) {
        configure(broker.uri(), topic);
        zolvo_sdk::startMqttThread();
        ASSERT_TRUE(waitForCount(out, "sub topic: " + topic + " ,return code : 0\n", subscriptions));
    }
    void send(const std::string& orderId) {
        ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":")" + orderId + "\"}"));
    }
    void TearDown() override {
        ZOLVOSDK::unInit();
        if (HasFailure()) std::cerr << "---- captured output\n" << out.text() << std::endl;
    }
};

TEST_F(Stop, UnInitDuringReceiveStopsTheThreadAndKeepsTheClient) {
    ZOLVOSDK::setCommandInterface(new Recorder(calls));
    start();
    auto t0 = Clock::now();
    ZOLVOSDK::unInit();
    EXPECT_LT(Clock::now() - t0, 3s);
    EXPECT_EQ(zolvo_sdk::channelThreadCountForTesting(), 0u);
    EXPECT_FALSE(zolvo_sdk::sdkState().initialized());
    EXPECT_FALSE(zolvo_sdk::sdkState().mqttStarted);
    ASSERT_NE(zolvo_sdk::g_mqttClient, nullptr);
    EXPECT_EQ(zolvo_sdk::g_mqttClient->handle, nullptr);
    send("while stopped");

    // A new start (as init does) reuses the client: one thread, each command once.
    initialiseAgain();
    start(2);
    EXPECT_EQ(zolvo_sdk::channelThreadCountForTesting(), 1u);
    send("again");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() >= 1; }, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||again|");
    ZOLVOSDK::unInit();
    ZOLVOSDK::unInit();  // twice: harmless
    EXPECT_EQ(zolvo_sdk::channelThreadCountForTesting(), 0u);
}

TEST_F(Stop, UnInitInterruptsTheReconnectWait) {
    start();  // the product's reconnect wait of one minute
    broker.stop();
    ASSERT_TRUE(out.waitFor("begin again connect\n", 10s));
    auto t0 = Clock::now();
    ZOLVOSDK::unInit();
    EXPECT_LT(Clock::now() - t0, 3s);
    EXPECT_EQ(zolvo_sdk::channelThreadCountForTesting(), 0u);
    EXPECT_FALSE(zolvo_sdk::sdkState().mqttStarted);
    EXPECT_EQ(out.text().find("Failed to connect"), std::string::npos);
}

// Runs `action` inside its first queryOrder call.
class Reentrant : public Recorder {
public:
    Reentrant(Calls& calls, std::function<void()> action) : Recorder(calls), action_(action) {}
    void queryOrder(std::string p, std::string o, std::string c) override {
        Recorder::queryOrder(p, o, c);
        if (action_) {
            auto a = std::move(action_);
            action_ = nullptr;
            a();
            calls_.add("returned");
        }
    }

private:
    std::function<void()> action_;
};

TEST_F(Stop, UnInitFromInsideACallbackDoesNotDeadlock) {
    ZOLVOSDK::setCommandInterface(new Reentrant(calls, [] { ZOLVOSDK::unInit(); }));
    start();
    send("first");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 2; }, 10s));
    ASSERT_TRUE(waitNoChannelThread(5s));
    EXPECT_FALSE(zolvo_sdk::sdkState().initialized());
    EXPECT_FALSE(zolvo_sdk::sdkState().mqttStarted);
    EXPECT_EQ(zolvo_sdk::g_mqttClient->handle, nullptr);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first||returned");
}

TEST_F(Stop, UnInitAndANewStartFromInsideACallbackLeaveOneChannel) {
    ZOLVOSDK::setCommandInterface(new Reentrant(calls, [] {
        ZOLVOSDK::unInit();
        initialiseAgain();
        zolvo_sdk::startMqttThread();
    }));
    start();
    send("first");
    ASSERT_TRUE(waitForCount(out, "sub topic: " + topic, 2));
    ASSERT_TRUE(rig::waitUntil([] { return zolvo_sdk::channelThreadCountForTesting() == 1; }, 5s));
    send("second");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() >= 3; }, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first||returned|queryOrder||second|");
}

// Blocks inside queryOrder until released.
class Blocking : public Recorder {
public:
    using Recorder::Recorder;
    void queryOrder(std::string p, std::string o, std::string c) override {
        std::unique_lock<std::mutex> lock(m);
        inside = true;
        cv.notify_all();
        cv.wait(lock, [&] { return released; });
        lock.unlock();
        Recorder::queryOrder(p, o, c);
    }
    void release() {
        std::lock_guard<std::mutex> lock(m);
        released = true;
        cv.notify_all();
    }
    bool waitInside() {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, 10s, [&] { return inside; });
    }
    std::mutex m;
    std::condition_variable cv;
    bool inside = false, released = false;
};

void ignorePayload(const char*) {}

TEST_F(Stop, CallbackFunctionRegisteredDuringADispatchDeletesTheObjectAfterTheCall) {
    auto* object = new Blocking(calls);
    ZOLVOSDK::setCommandInterface(object);
    start();
    send("held");
    ASSERT_TRUE(object->waitInside());
    auto t0 = Clock::now();
    ZOLVOSDK::setCallBackFun(ignorePayload);  // does not wait for the call
    EXPECT_LT(Clock::now() - t0, 1s);
    EXPECT_EQ(zolvo_sdk::g_commandInterface, nullptr);
    EXPECT_EQ(calls.deleted, 0);
    object->release();
    ASSERT_TRUE(rig::waitUntil([&] { return calls.deleted == 1; }, 5s));
    // The running channel no longer reaches the deleted object.
    send("after");
    ASSERT_TRUE(waitForCount(out, "receive Message : ", 2));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deleted, 1);
    EXPECT_EQ(calls.callsAfterDelete, 0);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||held|");
}

TEST_F(Stop, CallbackFunctionRegisteredFromInsideTheCallback) {
    ZOLVOSDK::setCommandInterface(
        new Reentrant(calls, [] { ZOLVOSDK::setCallBackFun(ignorePayload); }));
    start();
    send("first");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.deleted == 1; }, 10s));
    send("second");
    ASSERT_TRUE(waitForCount(out, "receive Message : ", 2));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deleted, 1);
    EXPECT_EQ(calls.callsAfterDelete, 0);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first||returned");
}

TEST_F(Stop, TeardownWhileCommandsArrive) {
    ZOLVOSDK::setCommandInterface(new Recorder(calls));
    start();
    std::atomic<bool> stopSending{false};
    std::thread sending([&] {
        for (int i = 0; i < 200 && !stopSending; ++i)
            sender.publish(topic, R"({"command":"prePay","orderId":")" + std::to_string(i) + "\"}");
    });
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() >= 3; }, 10s));
    {
        ZOLVOSDK sdk;
    }
    EXPECT_EQ(zolvo_sdk::channelThreadCountForTesting(), 0u);
    EXPECT_EQ(zolvo_sdk::g_mqttClient, nullptr);
    EXPECT_EQ(zolvo_sdk::g_commandInterface, nullptr);
    EXPECT_TRUE(zolvo_sdk::sdkState().tornDown());
    EXPECT_EQ(calls.deleted, 1);
    std::this_thread::sleep_for(200ms);
    stopSending = true;
    sending.join();
    EXPECT_EQ(calls.callsAfterDelete, 0);
    { ZOLVOSDK second; }  // finds nothing to delete
    EXPECT_EQ(calls.deleted, 1);
}

TEST_F(Stop, TeardownFromInsideACallback) {
    ZOLVOSDK::setCommandInterface(new Reentrant(calls, [] { ZOLVOSDK sdk; }));
    start();
    send("first");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.deleted == 1; }, 10s));
    ASSERT_TRUE(waitNoChannelThread(5s));
    EXPECT_EQ(zolvo_sdk::g_mqttClient, nullptr);
    EXPECT_TRUE(zolvo_sdk::sdkState().tornDown());
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first||returned");
    EXPECT_EQ(calls.callsAfterDelete, 0);
}

// The client keeps the object from an earlier start; the registration releases
// it in between. It must still be deleted only once.
TEST_F(Stop, ObjectReleasedBetweenTwoStartsIsDeletedOnce) {
    ZOLVOSDK::setCommandInterface(new Recorder(calls));
    start();
    ZOLVOSDK::unInit();
    ZOLVOSDK::setCallBackFun(ignorePayload);
    EXPECT_EQ(calls.deleted, 1);
    initialiseAgain();
    start(2);
    send("later");
    ASSERT_TRUE(waitForCount(out, "receive Message : ", 1));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deleted, 1);
    EXPECT_EQ(calls.callsAfterDelete, 0);
}

TEST(Registration, OwnershipRulesWithoutAChannel) {
    Calls calls;
    auto* a = new Recorder(calls);
    auto* b = new Recorder(calls);
    ZOLVOSDK::setCommandInterface(a);
    ZOLVOSDK::setCallBackFun(nullptr);  // nothing changes
    EXPECT_EQ(zolvo_sdk::g_commandInterface, a);
    ZOLVOSDK::setCommandInterface(b);  // a stays alive, now the host's again
    EXPECT_EQ(calls.deleted, 0);
    ZOLVOSDK::setCallBackFun(ignorePayload);
    EXPECT_EQ(calls.deleted, 1);  // b
    EXPECT_EQ(zolvo_sdk::g_commandInterface, nullptr);
    EXPECT_EQ(zolvo_sdk::g_callBackFun, &ignorePayload);
    ZOLVOSDK::setCommandInterface(a);
    EXPECT_EQ(zolvo_sdk::g_callBackFun, nullptr);
    ZOLVOSDK::setCommandInterface(nullptr);  // clears both, deletes nothing
    EXPECT_EQ(zolvo_sdk::g_commandInterface, nullptr);
    EXPECT_EQ(calls.deleted, 1);
    ZOLVOSDK::setCommandInterface(a);
    ZOLVOSDK::unInit();  // before any init: flags only
    EXPECT_EQ(zolvo_sdk::g_mqttClient, nullptr);
    EXPECT_EQ(zolvo_sdk::g_commandInterface, a);
    { ZOLVOSDK first; }
    EXPECT_EQ(calls.deleted, 2);
    { ZOLVOSDK second; }
    EXPECT_EQ(calls.deleted, 2);
}

}  // namespace
