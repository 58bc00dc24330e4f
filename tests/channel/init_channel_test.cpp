// The channel brought up by a real init against the rig's platform.
#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "channel_support.h"

using namespace chantest;
using zolvo_sdk::ZOLVOSDK;

namespace {

class InitChannel : public ::testing::Test {
protected:
    rig::PlatformServer platform;
    rig::Broker broker;
    std::string topic = uniqueId("topic");
    rig::OutputCapture out{1};
    CommandLog calls;

    std::string init() {
        return ZOLVOSDK::init("M01", "P01", "S01", "C01", "key", platform.baseUrl());
    }
    void TearDown() override {
        ZOLVOSDK::unInit();
        if (HasFailure()) std::cerr << "---- captured output\n" << out.text() << std::endl;
    }
};

TEST_F(InitChannel, CommandsArriveAfterInitAndUnInitStopsTheChannel) {
    platform.setBroker(broker.uri(), topic);
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    ASSERT_NE(init().find(R"("code":"0000")"), std::string::npos);
    ASSERT_TRUE(out.waitFor("sub topic: " + topic + " ,return code : 0\n", 10s));
    Sender sender(broker.port());
    ASSERT_TRUE(
        sender.publish(topic, R"({"command":"qrCodeEntry","parkCode":"P01","carNumber":"C"})"));
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    EXPECT_EQ(join(calls.snapshot()), "scanQrEntry|P01|||C|");
    ZOLVOSDK::unInit();
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
}

TEST_F(InitChannel, SecondInitAfterUnInitReusesTheFirstBrokerSettings) {
    rig::Broker other;
    std::string otherTopic = uniqueId("other");
    platform.setBroker(broker.uri(), topic);
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    ASSERT_NE(init().find(R"("code":"0000")"), std::string::npos);
    ASSERT_TRUE(out.waitFor("sub topic: " + topic + " ,return code : 0\n", 10s));
    ZOLVOSDK::unInit();

    platform.setBroker(other.uri(), otherTopic);
    ASSERT_NE(init().find(R"("code":"0000")"), std::string::npos);
    ASSERT_TRUE(waitForCount(out, "sub topic: " + topic + " ,return code : 0\n", 2));
    EXPECT_EQ(out.text().find("sub topic: " + otherTopic), std::string::npos);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 1u);
    Sender sender(broker.port());
    ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":"first broker"})"));
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first broker|");
}

// A reply without mqttTimeout (0): every receive waits the shortest wait, and
// the channel still stops at once.
TEST_F(InitChannel, MissingReceiveTimeOutWaitsTheShortestWaitAndStopsAtOnce) {
    std::string reply = rig::PlatformServer::defaultInitReply(broker.uri(), topic);
    const std::string member = "\"mqttTimeout\":200,";
    size_t at = reply.find(member);
    ASSERT_NE(at, std::string::npos) << reply;
    reply.erase(at, member.size());
    rig::Reply r;
    r.body = reply;
    platform.setReply("/api/client/init.do", r);
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    ASSERT_NE(init().find(R"("code":"0000")"), std::string::npos);
    ASSERT_TRUE(out.waitFor("sub topic: " + topic + " ,return code : 0\n", 10s));
    ASSERT_TRUE(waitForCount(out, "Receive message failed ==> 0\n", 2, 5s));
    Sender sender(broker.port());
    ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":"in time"})"));
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    auto t0 = std::chrono::steady_clock::now();
    ZOLVOSDK::unInit();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":"too late"})"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||in time|");
}

}  // namespace
