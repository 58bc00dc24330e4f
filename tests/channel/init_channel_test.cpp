// The channel brought up by a real init against the rig's platform.
#include <gtest/gtest.h>

#include <stdexcept>

#include "channel_support.h"

using namespace chantest;
using zolvo_sdk::ZOLVOSDK;

namespace {

class InitChannel : public ChannelTest {
protected:
    rig::PlatformServer platform;
    rig::Broker broker;
    std::string topic = uniqueId("topic");

    std::string init() {
        return ZOLVOSDK::init("M01", "P01", "S01", "C01", "key", platform.baseUrl());
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
    ASSERT_TRUE(rig::endMarkerArrives(calls, sender, topic));
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||first broker||queryOrder||END|");
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
    // A new init: the command sent while the channel was stopped never comes.
    ASSERT_NE(init().find(R"("code":"0000")"), std::string::npos);
    ASSERT_TRUE(waitForCount(out, "sub topic: " + topic + " ,return code : 0\n", 2));
    ASSERT_TRUE(rig::endMarkerArrives(calls, sender, topic));
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||in time||queryOrder||END|");
}

CommandLog* g_functionCalls = nullptr;
void throwingFunction(const char* text) {
    if (std::string(text) == "boom") throw std::logic_error("callback function failed");
    g_functionCalls->add(text);
}

// The one road through a real broker and the channel (the dispatch itself is
// dispatch_test.cpp's): every payload is logged as it came, an empty one is
// skipped, an exception of the host's code drops only its message, and a
// callback function registered meanwhile takes the object's place and gets
// each payload undecoded, cut at 1023 bytes and at its first NUL.
TEST_F(InitChannel, PayloadsReachTheObjectThenTheFunctionAsTheyCame) {
    platform.setBroker(broker.uri(), topic);
    auto* object = new RecordingCommands(calls);
    object->onQueryOrder = [](const std::string&, const std::string& orderId, const std::string&) {
        if (orderId == "throw") throw std::runtime_error("host failure");
    };
    ZOLVOSDK::setCommandInterface(object);
    ASSERT_NE(init().find(R"("code":"0000")"), std::string::npos);
    ASSERT_TRUE(out.waitFor("sub topic: " + topic + " ,return code : 0\n", 10s));
    Sender sender(broker.port());
    const std::string first =
        R"({"command":"prePay","orderId":"O1","carNumber":"C1","parkCode":"P1"})";
    for (const std::string& payload :
         {first, std::string(R"({"command":"prePay","orderId":"throw"})"), std::string(),
          std::string("not json at all"),
          std::string(R"({"command":"prePay","orderId":"NUL"})") + '\0' + "trailing bytes"})
        ASSERT_TRUE(sender.publish(topic, payload));
    ASSERT_TRUE(rig::endMarkerArrives(calls, sender, topic));
    EXPECT_EQ(join(calls.snapshot()),
              "queryOrder|P1|O1|C1|queryOrder||throw||queryOrder||NUL||queryOrder||END|");
    std::string text = out.text();
    EXPECT_NE(text.find("receive Message : " + first + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("receive Message : not json at all\n"), std::string::npos);
    EXPECT_NE(text.find("receive Message : {\"command\":\"prePay\",\"orderId\":\"NUL\"}\n"),
              std::string::npos);
    // Five non-empty payloads; the empty one writes nothing.
    EXPECT_EQ(occurrences(text, "receive Message : "), 5u) << text;
    EXPECT_EQ(text.find("receive Message : \n"), std::string::npos);
    EXPECT_EQ(occurrences(text, "Command message dropped: host failure\n"), 1u) << text;

    CommandLog functionCalls;
    g_functionCalls = &functionCalls;
    ZOLVOSDK::setCallBackFun(throwingFunction);
    ASSERT_TRUE(out.waitFor("MQTT setCallBackFun true\n", 10s));
    const std::string longPayload =
        std::string(R"({"command":"prePay","orderId":"L"})") + std::string(1990, ' ') + "tail";
    for (const std::string& payload :
         {first, std::string("boom"), std::string("not json"), std::string(),
          std::string("before") + '\0' + "after", longPayload, std::string("last")})
        ASSERT_TRUE(sender.publish(topic, payload));
    ASSERT_TRUE(rig::waitUntil([&] { return functionCalls.count() >= 5; }, 10s))
        << join(functionCalls.snapshot());
    const std::vector<std::string> expected = {first, "not json", "before",
                                               longPayload.substr(0, 1023), "last"};
    EXPECT_EQ(functionCalls.snapshot(), expected);
    text = out.text();
    EXPECT_EQ(occurrences(text, "Command message dropped: callback function failed\n"), 1u);
    EXPECT_NE(text.find("receive Message : " + longPayload.substr(0, 1023) + "\n"),
              std::string::npos);
    // The function replaces decoding: neither the object nor a default line runs.
    EXPECT_EQ(calls.count(), 4u);
    EXPECT_EQ(text.find("sdk dll command interface impl"), std::string::npos);
}

}  // namespace
