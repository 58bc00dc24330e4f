// What the nine request functions put on the wire: endpoint, content type,
// encoding, form text and signature, checked by the platform server itself.
#include <string>

#include "request_fixture.h"

namespace reqtest {
namespace {

class Wire : public Request, public ::testing::WithParamInterface<wirecases::WireCase> {};

TEST_P(Wire, SendsItsSignedFormAndReturnsTheReplyUnchanged) {
    const wirecases::WireCase& c = GetParam();
    rig::TempDir dir;
    const std::string file = dir.write("att.jpg", wirecases::kUploadBytes);
    // The reply is returned as it came: not parsed, GBK bytes and an error status kept.
    rig::Reply reply;
    reply.status = 500;
    reply.body = gbk("{\"code\":\"9999\",\"msg\":\"平台错误\"} trailing");
    server.setReply(c.path, reply);

    EXPECT_EQ(c.call(file), reply.body);
    wirecases::checkWire(c, onlyRequest());
}

INSTANTIATE_TEST_SUITE_P(AllNine, Wire, ::testing::ValuesIn(wirecases::kCases),
                         [](const ::testing::TestParamInfo<wirecases::WireCase>& info) {
                             return std::string(info.param.name);
                         });

// The two worked examples, byte for byte as signed and as sent.
TEST_F(Request, EntryWorkedExampleByteForByte) {
    ZOLVOSDK::entry(std::string("\xC9\xC2"
                                "A88888"),
                    "20180831123056", "201808310001", "", 0, "");
    const auto request = onlyRequest();
    const std::string form = std::string("carNumber=\xC9\xC2"
                                         "A88888") +
                             "&inChannel=0001&inTime=20180831123056&orderId=201808310001"
                             "&parkCode=201808150001&sysCode=0001";
    const std::string sign = rig::opensslMd5Hex(form + "&key=" + kKey);
    // One field per pair, in order, no file part, the plate as UTF-8 E9 99 95.
    ASSERT_EQ(partNames(request), "carNumber,inChannel,inTime,orderId,parkCode,sysCode,sign");
    EXPECT_EQ(request.parts[0].contents, "\xE9\x99\x95"
                                         "A88888");
    EXPECT_EQ(request.parts[1].contents, "0001");  // the system code, not the lane A4
    EXPECT_EQ(request.parts[6].contents, sign);
    for (const auto& part : request.parts) EXPECT_TRUE(part.filename.empty()) << part.name;
}

TEST_F(Request, PushOrderWorkedExampleByteForByte) {
    ZOLVOSDK::pushOrder("201808310001",
                        std::string("\xC9\xC2"
                                    "A88888"),
                        "20180831123056", "0001", "20180831133056", "0001", 3600, 300);
    const auto request = onlyRequest();
    const std::string tail =
        "&duration=3600&inChannel=0001&inTime=20180831123056&orderAmount=300"
        "&orderId=201808310001&outChannel=A4&outTime=20180831133056&parkCode=201808150001"
        "&sysCode=0001";
    const std::string sign = rig::opensslMd5Hex(std::string("carNumber=\xC9\xC2"
                                                            "A88888") +
                                                tail + "&key=" + kKey);
    EXPECT_EQ(request.body, std::string("carNumber=\xE9\x99\x95"
                                        "A88888") +
                                tail + "&sign=" + sign);
}

TEST_F(Request, EntryAndLeaveConditionalPairs) {
    const std::string p = gbk("陕A88888");
    // entryType 0: neither pair, and the scan number is not tested.
    ZOLVOSDK::entry(p, "20180831123056", "O1", "", 0, "");
    // entryType 1: entryType=1, the scan number neither tested nor sent.
    ZOLVOSDK::entry(p, "20180831123056", "O1", "", 1, "SCAN");
    // Any other non-zero value is sent as it is.
    ZOLVOSDK::entry(p, "20180831123056", "O1", "", -3, "SCAN");
    ZOLVOSDK::entry(p, "20180831123056", "O1", "", 2, "SCAN");
    ZOLVOSDK::leave(p, "20180831133056", "O1", 60, 1, "", 0, "SCAN");
    ZOLVOSDK::leave(p, "20180831133056", "O1", 60, 1, "", 1, "");
    ZOLVOSDK::leave(p, "20180831133056", "O1", 60, 1, "", 2, "SCAN");
    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(partNames(sent[0]), "carNumber,inChannel,inTime,orderId,parkCode,sysCode,sign");
    EXPECT_EQ(partNames(sent[1]),
              "carNumber,entryType,inChannel,inTime,orderId,parkCode,sysCode,sign");
    EXPECT_EQ(sent[1].part("entryType")->contents, "1");
    EXPECT_EQ(sent[2].part("entryType")->contents, "-3");
    EXPECT_EQ(partNames(sent[3]),
              "carNumber,entryType,inChannel,inTime,orderId,parkCode,scanNumber,sysCode,sign");
    EXPECT_EQ(sent[3].part("scanNumber")->contents, "SCAN");
    EXPECT_EQ(partNames(sent[4]),
              "carNumber,duration,orderAmount,orderId,outTime,parkCode,sysCode,sign");
    EXPECT_EQ(partNames(sent[5]),
              "carNumber,duration,orderAmount,orderId,outTime,outType,parkCode,sysCode,sign");
    EXPECT_EQ(partNames(sent[6]), "carNumber,duration,orderAmount,orderId,outTime,outType,"
                                  "parkCode,scanNumber,sysCode,sign");
    for (const auto& request : sent) {
        EXPECT_TRUE(rig::checkSign(rig::utf8ToGbk(wireForm(request)), kKey)) << request.path;
    }
}

TEST_F(Request, ImageFileMissingEmptyAndPresent) {
    rig::TempDir dir;
    const std::string image = dir.write("in.jpg", std::string("\x89PNG\r\n\x1A\n\0\0", 10));
    const std::string empty = dir.write("empty.jpg", "");
    const std::string p = gbk("陕A88888");

    // A path that names no file: refused by the transport, nothing sent.
    EXPECT_EQ(ZOLVOSDK::entry(p, "20180831123056", "O1", dir.path() + "/none.jpg", 0, ""),
              refused("未知的文件!"));
    EXPECT_EQ(ZOLVOSDK::leave(p, "20180831133056", "O1", 60, 1, dir.path() + "/none.jpg", 0, ""),
              refused("未知的文件!"));
    EXPECT_EQ(ZOLVOSDK::uploadFile("O1", dir.path() + "/none.jpg", "entry"),
              refused("未知的文件!"));
    EXPECT_EQ(server.requestCount(), 0u);

    ZOLVOSDK::entry(p, "20180831123056", "O1", image, 0, "");
    ZOLVOSDK::leave(p, "20180831133056", "O1", 60, 1, empty, 0, "");
    ZOLVOSDK::uploadFile("O1", image, "entry");
    ZOLVOSDK::uploadFile("O1", empty, "entry");
    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), 4u);
    for (const auto& request : sent) {
        // The file goes first as "fileImage", the signature last.
        ASSERT_GE(request.parts.size(), 2u) << request.path;
        EXPECT_EQ(request.parts.front().name, "fileImage") << request.path;
        EXPECT_FALSE(request.parts.front().filename.empty()) << request.path;
        EXPECT_EQ(request.parts.back().name, "sign") << request.path;
        const std::string form = rig::formFromParts(request.parts);
        const bool converted = request.path != "/api/file/upload.do";
        EXPECT_TRUE(rig::checkSign(converted ? rig::utf8ToGbk(form) : form, kKey)) << form;
    }
    EXPECT_EQ(sent[0].parts.front().contents, std::string("\x89PNG\r\n\x1A\n\0\0", 10));
    EXPECT_EQ(sent[1].parts.front().contents, "");
    EXPECT_EQ(sent[2].parts.front().contents, std::string("\x89PNG\r\n\x1A\n\0\0", 10));
    EXPECT_EQ(sent[2].part("attType")->contents, "entry");
    EXPECT_EQ(sent[3].parts.front().contents, "");
}

TEST_F(Request, FreeCarRemarksFlagAndItsTwoLines) {
    const std::string p = gbk("陕A88888");
    const std::string t1 = "20180901000000", t2 = "20181231235959";
    std::string remark200;
    for (int i = 0; i < 100; ++i) remark200 += gbk("停");
    EXPECT_EQ(ZOLVOSDK::freeCar(p, t1, t2, remark200 + "x", false),
              refused("参数异常!补缴备注字符不能超过200长度!"));
    EXPECT_EQ(server.requestCount(), 0u);

    std::string out;
    {
        rig::OutputCapture capture(1);
        ZOLVOSDK::freeCar(p, t1, t2, remark200, false);
        out = capture.text();
    }
    ZOLVOSDK::freeCar(p, t1, t2, "", true);
    // A remark with NUL at its first byte counts as none, so nothing after it is cut off.
    ZOLVOSDK::freeCar(p, t1, t2, std::string("\0abc", 4), false);
    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), 3u);

    const std::string form0 = rig::utf8ToGbk(sent[0].body);
    EXPECT_NE(form0.find("&delFlag=0&"), std::string::npos);
    EXPECT_NE(form0.find("&remarks=" + remark200 + "&"), std::string::npos);
    const std::string lines = "request url " + server.baseUrl() + "/api/free/car/push.do\n" +
                              "request dataStr " + sent[0].body + "\n";
    EXPECT_NE(out.find(lines), std::string::npos) << out;

    for (size_t i = 1; i < 3; ++i) {
        const std::string form = rig::utf8ToGbk(sent[i].body);
        EXPECT_NE(form.find("&remarks=no remarks&"), std::string::npos) << form;
        EXPECT_TRUE(rig::checkSign(form, kKey)) << form;
    }
    EXPECT_NE(sent[1].body.find("&delFlag=1&"), std::string::npos);
}

TEST_F(Request, HostileValuesDoNotBreakTheCall) {
    // "&" and "=" inside values are the caller's limit: the call still completes,
    // and a multipart field keeps everything after its first "=".
    ZOLVOSDK::entry(gbk("陕A88888"), "20180831123056", "A=B=C", "", 0, "");
    // Huge values and separators in a form post go out as signed.
    const std::string huge(200000, 'Z');
    ZOLVOSDK::pushOrder("a&b", huge, "x=y", "1", "2", "3", 60, 1);
    // Bytes outside GBK: unconverted they go out as signed; converted, the call completes.
    const std::string odd = "\xFF\x80\x81\xFE\xFF"
                            "A88888";
    ZOLVOSDK::finish("201808310001", odd, "20180831133056");
    const std::string reply = ZOLVOSDK::pushOrder("201808310001", odd, "1", "1", "2", "2", 60, 1);
    EXPECT_NE(reply.find("\"code\":\"0000\""), std::string::npos) << reply;

    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), 4u);
    ASSERT_NE(sent[0].part("orderId"), nullptr);
    EXPECT_EQ(sent[0].part("orderId")->contents, "A=B=C");
    EXPECT_TRUE(rig::checkSign(sent[1].body, kKey));
    EXPECT_NE(sent[1].body.find(huge), std::string::npos);
    EXPECT_NE(sent[2].body.find("carNumber=" + odd + "&"), std::string::npos);
    EXPECT_TRUE(rig::checkSign(sent[2].body, kKey));
    EXPECT_EQ(sent[3].path, "/api/order/receive.do");
}

}  // namespace
}  // namespace reqtest
