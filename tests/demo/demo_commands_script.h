// What the demo sends and what its callback object does, checked the same way
// for the Linux window and for the Windows program under wine: the forms the
// platform server receives for the chooser's samples, and the platform's four
// commands published to a real broker with the answers and lines that follow.
// No Qt here: the Windows driver is a plain Linux program.
#ifndef ZOLVO_TESTS_DEMO_COMMANDS_SCRIPT_H
#define ZOLVO_TESTS_DEMO_COMMANDS_SCRIPT_H

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rig.h"

namespace demoscript {

using Form = std::map<std::string, std::string>;

inline Form formOf(const rig::RecordedRequest &r)
{
    Form form;
    for (const auto &kv : rig::parseForm(rig::wireForm(r))) form[kv.first] = kv.second;
    return form;
}

// Every reply carries Chinese in GBK, so the demo proves it decodes from GBK.
inline std::string replyFor(const std::string &path)
{
    return "{\"code\":\"0000\",\"msg\":\"已收到" + path + "\"}";
}

// Every endpoint but init answers with replyFor(path) in GBK.
inline void replyInGbk(rig::PlatformServer &server)
{
    for (const char *path : rig::kEndpoints) {
        if (std::string(path) == "/api/client/init.do")
            continue;
        rig::Reply reply;
        reply.body = rig::utf8ToGbk(replyFor(path));
        reply.contentType = "application/json;charset=GBK";
        server.setReply(path, reply);
    }
}

// The plate of the chooser's samples.
inline const std::string kSamplePlate = "陕A88888";

// A sample of the chooser submitted unchanged: the fields its form must carry
// (UTF-8 but for finish, whose form is in the ANSI code page), whether an
// image goes with it, and the line the demo writes after it (or null).
struct SampleRequest {
    int index;
    const char *path;
    Form fields;
    bool withImage;
    const char *lineAfter;
};

inline const std::vector<SampleRequest> &sampleRequests()
{
    static const std::vector<SampleRequest> all = {
        {1,
         "/api/car/enter.do",
         {{"carNumber", kSamplePlate},
          {"inTime", "20180831123056"},
          {"orderId", "201808310001"},
          {"parkCode", "201808150001"},
          {"sysCode", "0001"}},
         true,
         " request in() \n"},
        {2,
         "/api/car/out.do",
         {{"carNumber", kSamplePlate},
          {"outTime", "20180831133056"},
          {"orderId", "201808310001"},
          {"orderAmount", "300"},
          {"duration", "3600"},
          {"outType", "2"},
          {"scanNumber", "25de84afecb04c3a87670f4a7005ec49"}},
         true,
         " request out() \n"},
        // finish sends its form in the ANSI code page.
        {3,
         "/api/car/leave.do",
         {{"carNumber", rig::utf8ToGbk(kSamplePlate)},
          {"orderId", "201808310001"},
          {"finishTime", "20180831133156"}},
         false,
         " request finish() \n"},
        {4,
         "/api/order/query.do",
         {{"orderId", "201808310001"}, {"parkCode", "201808150001"}},
         false,
         " request orderQuery() \n"},
        {5,
         "/api/file/upload.do",
         {{"orderId", "201808310001"}, {"attType", "entry"}},
         true,
         nullptr},
        {6,
         "/api/order/supp.do",
         {{"carNumber", kSamplePlate},
          {"startTime", "20180831133056"},
          {"endTime", "20180831143056"},
          {"orderId", "201808310001"},
          {"orderAmount", "300"},
          {"duration", "3600"}},
         false,
         " request suppOrder() \n"},
        {7,
         "/api/free/car/push.do",
         {{"carNumber", kSamplePlate},
          {"startTime", "20180831133056"},
          {"endTime", "20180830143056"},
          {"remarks", "baoyueche"},
          {"delFlag", "0"}},
         false,
         " request freeCar() \n"},
    };
    return all;
}

// The sample's fields in the form `form` received; enter's form has no entry
// type and no scan number.
inline void checkSampleForm(const SampleRequest &sample, const Form &form)
{
    for (const auto &kv : sample.fields) {
        ASSERT_TRUE(form.count(kv.first)) << kv.first;
        EXPECT_EQ(form.at(kv.first), kv.second) << kv.first << ": " << rig::hex(form.at(kv.first));
    }
    if (sample.index == 1) {
        EXPECT_FALSE(form.count("entryType"));
        EXPECT_FALSE(form.count("scanNumber"));
    }
}

// Publishes prePay, qrCodePay, qrCodeEntry and two payNotices on `topic` and
// checks what the demo makes of them: pushOrder and scanningOrder on the
// platform, the other commands only written. `output` gives everything the
// demo has written so far (lines ending in LF).
inline void checkFourCommands(rig::PlatformServer &server, rig::Broker &broker,
                              const std::string &topic, const std::function<std::string()> &output)
{
    using namespace std::chrono_literals;
    const auto waitFor = [&](const std::string &needle, std::chrono::milliseconds timeout) {
        return rig::waitUntil([&] { return output().find(needle) != std::string::npos; }, timeout);
    };
    const auto gbk = [](const std::string &utf8) { return rig::utf8ToGbk(utf8); };
    rig::CliPublisher publisher(broker.port());

    // prePay: published until the library's subscription stands.
    const std::string prePay =
        "{\"command\":\"prePay\",\"parkCode\":\"OTHER\",\"orderId\":\"ORD00001\","
        "\"carNumber\":\"ABC1234\"}";
    bool answered = false;
    for (int i = 0; i < 60 && !answered; ++i) {
        ASSERT_TRUE(publisher.publish(topic, prePay));
        answered = server.waitForRequests(1, 500ms, "/api/order/receive.do");
    }
    ASSERT_TRUE(answered) << "broker log:\n" << broker.log();
    const Form push = formOf(server.requestsTo("/api/order/receive.do").front());
    const Form expectedPush = {{"carNumber", "ABC1234"},     {"duration", "3600"},
                               {"inChannel", "0001"},        {"inTime", "20180831123056"},
                               {"orderAmount", "300"},       {"orderId", "ORD00001"},
                               {"outChannel", "A4"},         {"outTime", "20180831133056"},
                               {"parkCode", "201808150001"}, {"sysCode", "0001"}};
    for (const auto &kv : expectedPush)
        EXPECT_EQ(push.count(kv.first) ? push.at(kv.first) : "<none>", kv.second) << kv.first;
    EXPECT_TRUE(waitFor(
        "CallBackImpl --> queryOrder() -->" + gbk(replyFor("/api/order/receive.do")) + "\n", 10s));
    EXPECT_NE(output().find("client interface impl queryOrder() \n"
                            "CallBackImpl --> _carNumber() -->ABC1234\n"),
              std::string::npos);

    // qrCodePay: scanningOrder with the scan number; tempCar stays here.
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"qrCodePay\",\"parkCode\":\"PK\",\"sysCode\":\"SY\","
               "\"channel\":\"CH\",\"scanNumber\":\"SCAN0001\",\"orderId\":\"ORD00002\","
               "\"carNumber\":\"ABC1234\",\"tempCar\":7}"));
    ASSERT_TRUE(server.waitForRequests(1, 10s, "/api/qr/order/receive.do"));
    const Form qr = formOf(server.requestsTo("/api/qr/order/receive.do").front());
    const Form expectedQr = {
        {"scanNumner", "SCAN0001"},   {"orderId", "ORD00002"}, {"carNumber", "ABC1234"},
        {"inTime", "20180831123056"}, {"inChannel", "0001"},   {"outTime", "20180831133056"},
        {"duration", "3600"},         {"orderAmount", "300"},  {"parkCode", "201808150001"}};
    for (const auto &kv : expectedQr)
        EXPECT_EQ(qr.count(kv.first) ? qr.at(kv.first) : "<none>", kv.second) << kv.first;
    EXPECT_FALSE(qr.count("tempCar"));
    EXPECT_TRUE(waitFor(
        "CallBackImpl --> scanQrCodePay() -->" + gbk(replyFor("/api/qr/order/receive.do")) + "\n",
        10s));
    EXPECT_NE(output().find("client interface impl scanQrCodePay() parkCode:PK\n"
                            "client interface impl scanQrCodePay() sysCode:SY\n"
                            "client interface impl scanQrCodePay() channel:CH\n"
                            "client interface impl scanQrCodePay() scanNumber:SCAN0001\n"
                            "client interface impl scanQrCodePay() tempCar:7\n"),
              std::string::npos);

    // qrCodeEntry and payNotice are only written.
    const size_t before = server.requestCount();
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"qrCodeEntry\",\"parkCode\":\"PK\",\"sysCode\":\"SY\","
               "\"channel\":\"CH\",\"carNumber\":\"ABC1234\",\"scanNumber\":\"SCAN0003\"}"));
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"payNotice\",\"orderId\":\"ORD00001\",\"carNumber\":\"ABC1234\","
               "\"payStatus\":0,\"payAmount\":300}"));
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"payNotice\",\"orderId\":\"ORD00001\",\"payStatus\":-2}"));
    // payStatus 0 is the demo's "pay error!", any other its "pay success!": the
    // second notice is the last command.
    EXPECT_TRUE(waitFor("client interface impl noticeOfPaymentResult() pay success!\n", 10s));
    const std::string text = output();
    EXPECT_NE(text.find("client interface impl scanQrEntry() \n"
                        "client interface impl scanQrEntry() parkCode --> PK\n"
                        "client interface impl scanQrEntry() sysCode --> SY\n"
                        "client interface impl scanQrEntry() channel --> CH\n"
                        "client interface impl scanQrEntry() carNumber --> ABC1234\n"
                        "client interface impl scanQrEntry() scanNumber --> SCAN0003\n"),
              std::string::npos);
    EXPECT_NE(text.find("client interface impl noticeOfPaymentResult() \n"
                        "client interface impl noticeOfPaymentResult() pay error!\n"),
              std::string::npos);
    EXPECT_EQ(server.requestCount(), before);
    // The library's default lines never appear for the demo's object.
    EXPECT_EQ(text.find("sdk dll command interface impl"), std::string::npos);
}

}  // namespace demoscript

#endif
