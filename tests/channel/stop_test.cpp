// Stopping the channel (unInit, teardown) and the lifetime of the callback object.
#include <gtest/gtest.h>

#include <condition_variable>
#include <ctime>
#include <thread>

#include "channel_support.h"

using namespace chantest;
using zolvo_sdk::ZOLVOSDK;

namespace {

using Clock = std::chrono::steady_clock;

CommandLog* g_fnCalls = nullptr;

class Stop : public ChannelTest {
protected:
    rig::Broker broker;
    Sender sender{broker.port()};
    std::string topic = uniqueId("topic");
    CommandLog functionCalls;

    void start(size_t subscriptions = 1, int receiveTimeoutMs = 100) {
        configure(broker.uri(), topic, receiveTimeoutMs);
        startChannel();
        ASSERT_TRUE(
            waitForCount(out, "sub topic: " + topic + " ,return code : 0\n", subscriptions));
    }
    void send(const std::string& orderId) {
        ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":")" + orderId + "\"}"));
    }
    void sendWhileUnInitRuns(int receiveTimeoutMs, bool function);
};

TEST_F(Stop, UnInitDuringReceiveStopsTheThreadAndKeepsTheClient) {
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    auto t0 = Clock::now();
    ZOLVOSDK::unInit();
    EXPECT_LT(Clock::now() - t0, 3s);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    EXPECT_FALSE(zolvo_sdk::sdkState().initialized());
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().mqttStarted());
    ASSERT_NE(zolvo_sdk::CommandChannel::instance().client(), nullptr);
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().client()->hasHandle());
    send("while stopped");

    // A new start (as init does) reuses the client: one thread, each command once.
    initialiseAgain();
    start(2);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 1u);
    send("again");
    ASSERT_TRUE(rig::endMarkerArrives(calls, sender, topic));
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||again||queryOrder||END|");
    ZOLVOSDK::unInit();
    ZOLVOSDK::unInit();  // twice: harmless
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
}

TEST_F(Stop, UnInitInterruptsTheReconnectWait) {
    start();  // the product's reconnect wait of one minute
    broker.stop();
    ASSERT_TRUE(out.waitFor("begin again connect\n", 10s));
    auto t0 = Clock::now();
    ZOLVOSDK::unInit();
    EXPECT_LT(Clock::now() - t0, 3s);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().mqttStarted());
    EXPECT_EQ(out.text().find("Failed to connect"), std::string::npos);
}

// The receive time-out that the platform sets: what the host sees of it stays,
// and stopping never waits for it.
class StopWithTimeOut : public Stop, public ::testing::WithParamInterface<int> {};

INSTANTIATE_TEST_SUITE_P(ReceiveTimeOut, StopWithTimeOut, ::testing::Values(0, 200, 20000, -1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param < 0 ? "Negative" : std::to_string(info.param) + "ms";
                         });

TEST_P(StopWithTimeOut, UnInitAndTeardownReturnSoonAndTimeOutLinesKeepTheirRate) {
    const int timeout = GetParam();
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start(1, timeout);
    // One "Receive message failed ==> 0" line per receive time-out that passes
    // without a message, none while a negative time-out (no time-out) or a long
    // one runs. No receive waits less than 200 ms: with 0 the idle channel
    // neither spins nor floods the output.
    const std::string line = "Receive message failed ==> 0\n";
    const size_t before = occurrences(out.text(), line);
    const std::clock_t cpuBefore = std::clock();
    std::this_thread::sleep_for(2s);
    const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    const size_t seen = occurrences(out.text(), line) - before;
    EXPECT_LT(cpuSeconds, 0.4) << "CPU time of the idle process in 2 s";
    if (timeout == 0 || timeout == 200) {
        EXPECT_GE(seen, 7u);
        EXPECT_LE(seen, 11u);
    } else {
        EXPECT_EQ(seen, 0u);
    }
    send("received");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));

    // The channel is idle inside a receive; the broker answers at once, so the
    // stop takes a fraction of a second, never a whole time-out.
    auto t0 = Clock::now();
    ZOLVOSDK::unInit();
    EXPECT_LT(Clock::now() - t0, 2s);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().client()->hasHandle());

    initialiseAgain();
    start(2, timeout);
    ASSERT_TRUE(waitIdleInReceive());
    t0 = Clock::now();
    { ZOLVOSDK teardown; }
    EXPECT_LT(Clock::now() - t0, 2s);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client(), nullptr);
    EXPECT_EQ(calls.deletedCount(), 1);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||received|");
}

void recordPayload(const char* text) { g_fnCalls->add(text); }

// Commands published while unInit runs, from the moment its stop request stands
// until after it has returned, reach neither the callback object nor the
// callback function, and are not logged.
void Stop::sendWhileUnInitRuns(int receiveTimeoutMs, bool function) {
    CommandLog& seen = function ? functionCalls : calls;
    if (function) {
        g_fnCalls = &functionCalls;
        ZOLVOSDK::setCallBackFun(recordPayload);
    } else {
        ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    }
    start(1, receiveTimeoutMs);
    send("before");
    ASSERT_TRUE(rig::waitUntil([&] { return seen.count() == 1; }, 10s));
    ASSERT_TRUE(waitIdleInReceive());  // back in its receive loop, the call over

    std::atomic<bool> returned{false};
    std::thread stopping([&] {
        ZOLVOSDK::unInit();
        returned = true;
    });
    EXPECT_TRUE(rig::waitUntil(
        [&] { return returned || zolvo_sdk::CommandChannel::instance().stopPending(); }, 5s));
    // The stop has been requested: two senders publish until unInit has
    // returned, and a few more each after that.
    std::atomic<int> sent{0};
    auto publishing = [&](int sender) {
        Sender own(broker.port());
        for (int i = 0, after = 0; i < 100 && after < 3; ++i) {
            if (returned) ++after;
            if (own.publish(topic, R"({"command":"prePay","orderId":"late-)" +
                                       std::to_string(sender) + "-" + std::to_string(i) + "\"}"))
                ++sent;
        }
    };
    std::thread first(publishing, 1), second(publishing, 2);
    first.join();
    second.join();
    stopping.join();
    EXPECT_GE(sent, 6);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(seen.count(), 1u) << join(seen.snapshot());
    EXPECT_EQ(occurrences(out.text(), "receive Message : "), 1u) << out.text();
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
}

TEST_P(StopWithTimeOut, CommandsSentOnceTheStopIsRequestedReachNoObject) {
    sendWhileUnInitRuns(GetParam(), false);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||before|");
}

TEST_P(StopWithTimeOut, CommandsSentOnceTheStopIsRequestedReachNoFunction) {
    sendWhileUnInitRuns(GetParam(), true);
    EXPECT_EQ(join(functionCalls.snapshot()), R"({"command":"prePay","orderId":"before"})");
}

// Runs `action` inside its first queryOrder call.
class Reentrant : public RecordingCommands {
public:
    Reentrant(CommandLog& calls, std::function<void()> action)
        : RecordingCommands(calls), action_(action) {}
    void queryOrder(std::string p, std::string o, std::string c) override {
        RecordingCommands::queryOrder(p, o, c);
        if (action_) {
            auto a = std::move(action_);
            action_ = nullptr;
            a();
            log_.add("returned");
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
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().mqttStarted());
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().client()->hasHandle());
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first||returned");
}

TEST_F(Stop, UnInitAndANewStartFromInsideACallbackLeaveOneChannel) {
    ZOLVOSDK::setCommandInterface(new Reentrant(calls, [] {
        ZOLVOSDK::unInit();
        initialiseAgain();
        startChannel();
    }));
    start();
    send("first");
    ASSERT_TRUE(waitForCount(out, "sub topic: " + topic, 2));
    ASSERT_TRUE(rig::waitUntil(
        [] { return zolvo_sdk::CommandChannel::instance().threadCount() == 1; }, 5s));
    send("second");
    ASSERT_TRUE(rig::endMarkerArrives(calls, sender, topic));
    EXPECT_EQ(join(calls.snapshot()),
              "queryOrder||first||returned|queryOrder||second||queryOrder||END|");
}

void ignorePayload(const char*) {}

// The running channel takes the function in the deleted object's place: the
// commands that follow reach it.
TEST_F(Stop, CallbackFunctionRegisteredDuringADispatchDeletesTheObjectAfterTheCall) {
    g_fnCalls = &functionCalls;
    auto* object = new rig::BlockingCommands(calls);
    ZOLVOSDK::setCommandInterface(object);
    start();
    send("held");
    ASSERT_TRUE(object->waitInside());
    auto t0 = Clock::now();
    ZOLVOSDK::setCallBackFun(recordPayload);  // does not wait for the call
    EXPECT_LT(Clock::now() - t0, 1s);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), nullptr);
    EXPECT_EQ(calls.deletedCount(), 0);
    object->release();
    ASSERT_TRUE(rig::waitUntil([&] { return calls.deletedCount() == 1; }, 5s));
    // The running channel no longer reaches the deleted object, but the function.
    send("after");
    ASSERT_TRUE(rig::waitUntil([&] { return functionCalls.count() == 1; }, 10s));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deletedCount(), 1);
    EXPECT_EQ(calls.callsAfterDelete, 0);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||held|");
    EXPECT_EQ(join(functionCalls.snapshot()), R"({"command":"prePay","orderId":"after"})");
}

TEST_F(Stop, CallbackFunctionRegisteredFromInsideTheCallback) {
    ZOLVOSDK::setCommandInterface(
        new Reentrant(calls, [] { ZOLVOSDK::setCallBackFun(ignorePayload); }));
    start();
    send("first");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.deletedCount() == 1; }, 10s));
    send("second");
    ASSERT_TRUE(waitForCount(out, "receive Message : ", 2));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deletedCount(), 1);
    EXPECT_EQ(calls.callsAfterDelete, 0);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first||returned");
}

TEST_F(Stop, TeardownWhileCommandsArrive) {
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    std::atomic<bool> stopSending{false};
    std::thread sending([&] {
        for (int i = 0; i < 200 && !stopSending; ++i)
            sender.publish(topic, R"({"command":"prePay","orderId":")" + std::to_string(i) + "\"}");
    });
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() >= 3; }, 10s));
    { ZOLVOSDK sdk; }
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client(), nullptr);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), nullptr);
    EXPECT_TRUE(zolvo_sdk::sdkState().tornDown());
    EXPECT_EQ(calls.deletedCount(), 1);
    std::this_thread::sleep_for(200ms);
    stopSending = true;
    sending.join();
    EXPECT_EQ(calls.callsAfterDelete, 0);
    { ZOLVOSDK second; }  // finds nothing to delete
    EXPECT_EQ(calls.deletedCount(), 1);
}

TEST_F(Stop, TeardownFromInsideACallback) {
    ZOLVOSDK::setCommandInterface(new Reentrant(calls, [] { ZOLVOSDK sdk; }));
    start();
    send("first");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.deletedCount() == 1; }, 10s));
    ASSERT_TRUE(waitNoChannelThread(5s));
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client(), nullptr);
    EXPECT_TRUE(zolvo_sdk::sdkState().tornDown());
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first||returned");
    EXPECT_EQ(calls.callsAfterDelete, 0);
}

// The client keeps the object from an earlier start; the registration releases
// it in between. It must still be deleted only once.
TEST_F(Stop, ObjectReleasedBetweenTwoStartsIsDeletedOnce) {
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    ZOLVOSDK::unInit();
    ZOLVOSDK::setCallBackFun(ignorePayload);
    EXPECT_EQ(calls.deletedCount(), 1);
    initialiseAgain();
    start(2);
    send("later");
    ASSERT_TRUE(waitForCount(out, "receive Message : ", 1));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deletedCount(), 1);
    EXPECT_EQ(calls.callsAfterDelete, 0);
}

// The registration lets go of the object the running channel holds, names it
// again, and then gives way to a function: the object is deleted once, and the
// channel calls it no more.
TEST_F(Stop, ObjectTheChannelHoldsRegisteredAgainIsDeletedOnce) {
    CommandLog other;
    auto* held = new RecordingCommands(calls);
    auto* replacement = new RecordingCommands(other);
    ZOLVOSDK::setCommandInterface(held);
    start();
    ZOLVOSDK::setCommandInterface(replacement);  // the channel keeps `held`
    send("one");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    ZOLVOSDK::setCommandInterface(held);  // `replacement` is the host's again
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), held);
    ZOLVOSDK::setCallBackFun(ignorePayload);
    ASSERT_TRUE(rig::waitUntil([&] { return calls.deletedCount() == 1; }, 5s));
    send("two");
    ASSERT_TRUE(waitForCount(out, "receive Message : ", 2));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deletedCount(), 1);
    EXPECT_EQ(calls.callsAfterDelete, 0);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||one|");
    EXPECT_EQ(other.deletedCount(), 0);
    EXPECT_EQ(other.count(), 0u);
    delete replacement;  // a second deletion would show under the sanitizers
}

// The next start hands the client the object registered meanwhile; the one it
// held before is the host's again and is not deleted by the library.
TEST_F(Stop, ObjectReplacedAtTheNextStartIsTheHostsAgain) {
    CommandLog other;
    auto* first = new RecordingCommands(calls);
    ZOLVOSDK::setCommandInterface(first);
    start();
    ZOLVOSDK::unInit();
    ZOLVOSDK::setCommandInterface(new RecordingCommands(other));
    initialiseAgain();
    start(2);
    send("later");
    ASSERT_TRUE(rig::waitUntil([&] { return other.count() == 1; }, 10s));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(other.deletedCount(), 1);
    EXPECT_EQ(other.callsAfterDelete, 0);
    EXPECT_EQ(calls.deletedCount(), 0);
    EXPECT_EQ(calls.count(), 0u);
    delete first;
    EXPECT_EQ(calls.deletedCount(), 1);
}

// The teardown deletes both the object the running channel holds and a
// different one registered after the start, each once.
TEST_F(Stop, TeardownDeletesTheChannelsObjectAndTheRegisteredOne) {
    CommandLog other;
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    ZOLVOSDK::setCommandInterface(new RecordingCommands(other));  // does not reach the channel
    send("kept");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deletedCount(), 1);
    EXPECT_EQ(other.deletedCount(), 1);
    EXPECT_EQ(other.count(), 0u);
    EXPECT_EQ(calls.callsAfterDelete, 0);
}

// A text the client hands over once the stop is requested (received just
// before) goes nowhere and is not logged, with a callback object or function.
TEST(StopRequest, TextHandedOverAfterwardsIsNeitherLoggedNorDelivered) {
    CommandLog calls;
    g_fnCalls = &calls;
    for (const bool function : {false, true}) {
        zolvo_sdk::CommandChannel channel;  // of its own, with no thread
        if (function) channel.registerCallBackFun(recordPayload);
        else channel.registerCommandInterface(new RecordingCommands(calls));
        const uint64_t thread = channel.stopGeneration();
        rig::OutputCapture out(1);
        channel.deliverAsThreadOf(thread, R"({"command":"prePay","orderId":"in time"})");
        channel.stop();
        channel.deliverAsThreadOf(thread, R"({"command":"prePay","orderId":"late"})");
        EXPECT_EQ(occurrences(out.text(), "receive Message : "), 1u) << out.text();
        EXPECT_EQ(out.text().find("late"), std::string::npos) << out.text();
    }
    EXPECT_EQ(calls.count(), 2u) << join(calls.snapshot());
    EXPECT_EQ(calls.deletedCount(), 1);  // with its channel
}

TEST(Registration, OwnershipRulesWithoutAChannel) {
    CommandLog calls;
    auto* a = new RecordingCommands(calls);
    auto* b = new RecordingCommands(calls);
    ZOLVOSDK::setCommandInterface(a);
    ZOLVOSDK::setCallBackFun(nullptr);  // nothing changes
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), a);
    ZOLVOSDK::setCommandInterface(b);  // a stays alive, now the host's again
    EXPECT_EQ(calls.deletedCount(), 0);
    ZOLVOSDK::setCallBackFun(ignorePayload);
    EXPECT_EQ(calls.deletedCount(), 1);  // b
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), nullptr);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredFunction(), &ignorePayload);
    ZOLVOSDK::setCommandInterface(a);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredFunction(), nullptr);
    ZOLVOSDK::setCommandInterface(nullptr);  // clears both, deletes nothing
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), nullptr);
    EXPECT_EQ(calls.deletedCount(), 1);
    // With nothing registered init refuses before it sends anything.
    EXPECT_EQ(ZOLVOSDK::init("M", "P", "S", "C", "K", "http://127.0.0.1:9"),
              rig::resultText("1000", "请设置回调方法!setCommandInterface() or setCallBackFun()"));
    ZOLVOSDK::setCommandInterface(a);
    ZOLVOSDK::unInit();  // before any init: flags only
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client(), nullptr);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().registeredObject(), a);
    { ZOLVOSDK first; }
    EXPECT_EQ(calls.deletedCount(), 2);
    { ZOLVOSDK second; }
    EXPECT_EQ(calls.deletedCount(), 2);
}

}  // namespace
