// Refusals of the request functions: state, argument tests in their order,
// byte lengths, number rules. A refusal sends nothing.
#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "request_fixture.h"

namespace reqtest {
namespace {

// Every request function, called with all texts empty and all numbers zero.
std::vector<std::string> callAllNineEmpty() {
    return {ZOLVOSDK::entry("", "", "", "", 0, ""),
            ZOLVOSDK::leave("", "", "", 0, 0, "", 0, ""),
            ZOLVOSDK::finish("", "", ""),
            ZOLVOSDK::freeCar("", "", "", "", false),
            ZOLVOSDK::pushOrder("", "", "", "", "", "", 0, 0),
            ZOLVOSDK::queryOrder(""),
            ZOLVOSDK::scanningOrder("", "", "", "", "", "", "", 0, 0),
            ZOLVOSDK::suppOrder("", "", "", "", 0, 0),
            ZOLVOSDK::uploadFile("", "", "")};
}

TEST(RequestState, EveryFunctionRefusesBeforeInit) {
    rig::PlatformServer server;
    for (const std::string& result : callAllNineEmpty()) EXPECT_EQ(result, notInitialised());
    // Even valid arguments are not looked at.
    EXPECT_EQ(ZOLVOSDK::queryOrder("201808310001"), notInitialised());
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(Request, EveryFunctionRefusesAfterUnInit) {
    ZOLVOSDK::unInit();
    for (const std::string& result : callAllNineEmpty()) EXPECT_EQ(result, notInitialised());
    EXPECT_EQ(ZOLVOSDK::queryOrder("201808310001"), notInitialised());
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(RequestState, EveryFunctionRefusesAfterTeardownWithoutCrashing) {
    { zolvo_sdk::ZOLVOSDK sdk; }  // tears the global record down
    for (const std::string& result : callAllNineEmpty()) EXPECT_EQ(result, notInitialised());
}

// One rung of a ladder: a call and the refusal it must give. Each rung makes
// one more argument valid, so the ladder walks a function's tests in order.
using Rung = std::pair<std::function<std::string()>, std::string>;

void climb(const char* name, const std::vector<Rung>& ladder) {
    for (size_t i = 0; i < ladder.size(); ++i) {
        EXPECT_EQ(ladder[i].first(), refused(ladder[i].second)) << name << " rung " << i;
    }
}

const std::string P = "陕A88888";  // 8 bytes in GBK
const std::string T1 = "20180831123056";
const std::string T2 = "20180831133056";
const std::string O = "201808310001";

TEST_F(Request, ArgumentTestsRunInTableOrderWithTheirTexts) {
    const std::string p = gbk(P);
    climb("entry",
          {
              {[] { return ZOLVOSDK::entry("", "", "", "", 2, ""); }, "参数异常!未知的车牌号!"},
              {[&] { return ZOLVOSDK::entry(p, "", "", "", 2, ""); }, "参数异常!未知的入场时间!"},
              {[&] { return ZOLVOSDK::entry(p, T1, "", "", 2, ""); }, "参数异常!未知的订单号!"},
              {[&] { return ZOLVOSDK::entry(p, T1, O, "", 2, ""); }, "参数异常!扫描编号不能为空!"},
          });
    climb(
        "leave",
        {
            {[] { return ZOLVOSDK::leave("", "", "", 0, 0, "", 2, ""); }, "参数异常!未知的车牌号!"},
            {[&] { return ZOLVOSDK::leave(p, "", "", 0, 0, "", 2, ""); },
             "参数异常!未知的出场时间!"},
            {[&] { return ZOLVOSDK::leave(p, T2, "", 0, 0, "", 2, ""); }, "参数异常!未知的订单号!"},
            {[&] { return ZOLVOSDK::leave(p, T2, O, 0, 0, "", 2, ""); },
             "参数异常!未知的停车时长!"},
            {[&] { return ZOLVOSDK::leave(p, T2, O, 60, 0, "", 2, ""); }, "参数异常!未知的金额!"},
            {[&] { return ZOLVOSDK::leave(p, T2, O, 60, 1, "", 2, ""); },
             "参数异常!扫描编号不能为空!"},
        });
    // The plate is tested first although the order id is the first parameter.
    climb("finish",
          {
              {[] { return ZOLVOSDK::finish("", "", ""); }, "参数异常!未知的车牌号!"},
              {[&] { return ZOLVOSDK::finish("", p, ""); }, "参数异常!未知的订单结束时间!"},
              {[&] { return ZOLVOSDK::finish("", p, T2); }, "参数异常!未知的订单号!"},
          });
    const std::string longRemark(201, 'r');
    climb("freeCar",
          {
              {[&] { return ZOLVOSDK::freeCar("", "", "", longRemark, false); },
               "参数异常!未知的车牌号!"},
              {[&] { return ZOLVOSDK::freeCar(p, "", "", longRemark, false); },
               "参数异常!未知的补缴计费开始时间!"},
              // The remark is tested before the end time.
              {[&] { return ZOLVOSDK::freeCar(p, T1, "2018083113305", longRemark, false); },
               "参数异常!补缴备注字符不能超过200长度!"},
              {[&] { return ZOLVOSDK::freeCar(p, T1, "2018083113305", "", false); },
               "参数异常!未知的补缴计费结束时间!"},
          });
    const std::string serial = "参数异常!未知的订单号流水号，长度在8-32位!";
    climb("pushOrder",
          {
              {[] { return ZOLVOSDK::pushOrder("", "abc", "", "", "", "", 0, 0); }, serial},
              {[] { return ZOLVOSDK::pushOrder(O, "abc", "", "", "", "", 0, 0); },
               "参数异常!未知的车牌号!"},
              {[&] { return ZOLVOSDK::pushOrder(O, p, "", "", "", "", 0, 0); },
               "参数异常!未知的入场时间!"},
              {[&] { return ZOLVOSDK::pushOrder(O, p, "1", "", "", "", 0, 0); },
               "参数异常!未知的入场通道!"},
              {[&] { return ZOLVOSDK::pushOrder(O, p, "1", "1", "", "", 0, 0); },
               "参数异常!未知的出场时间!"},
              {[&] { return ZOLVOSDK::pushOrder(O, p, "1", "1", "1", "", 0, 0); },
               "参数异常!未知的出场通道!"},
              {[&] { return ZOLVOSDK::pushOrder(O, p, "1", "1", "1", "1", 0, 0); },
               "参数异常!未知的停车时长!"},
              {[&] { return ZOLVOSDK::pushOrder(O, p, "1", "1", "1", "1", 1, 0); },
               "参数异常!未知的金额!"},
          });
    climb("queryOrder", {{[] { return ZOLVOSDK::queryOrder(""); }, "参数异常!未知的订单号!"}});
    climb("scanningOrder",
          {
              {[] { return ZOLVOSDK::scanningOrder("", "", "", "", "", "", "", 0, 0); },
               "参数异常!请传入扫码编号!"},
              {[] { return ZOLVOSDK::scanningOrder("S", "", "", "", "", "", "", 0, 0); }, serial},
              {[] { return ZOLVOSDK::scanningOrder("S", O, "", "", "", "", "", 0, 0); },
               "参数异常!未知的车牌号!"},
              {[&] { return ZOLVOSDK::scanningOrder("S", O, p, "", "", "", "", 0, 0); },
               "参数异常!未知的入场时间!"},
              {[&] { return ZOLVOSDK::scanningOrder("S", O, p, "1", "", "", "", 0, 0); },
               "参数异常!未知的入场通道!"},
              {[&] { return ZOLVOSDK::scanningOrder("S", O, p, "1", "1", "", "", 0, 0); },
               "参数异常!未知的出场时间!"},
              {[&] { return ZOLVOSDK::scanningOrder("S", O, p, "1", "1", "1", "", 0, 0); },
               "参数异常!未知的出场通道!"},
              {[&] { return ZOLVOSDK::scanningOrder("S", O, p, "1", "1", "1", "1", 0, 0); },
               "参数异常!未知的停车时长!"},
              {[&] { return ZOLVOSDK::scanningOrder("S", O, p, "1", "1", "1", "1", -1, 0); },
               "参数异常!未知的金额!"},
          });
    climb("suppOrder",
          {
              {[] { return ZOLVOSDK::suppOrder("", "", "", "", 0, 0); }, "参数异常!未知的车牌号!"},
              {[&] { return ZOLVOSDK::suppOrder(p, "", "", "", 0, 0); },
               "参数异常!未知的补缴计费开始时间!"},
              {[&] { return ZOLVOSDK::suppOrder(p, T1, "", "", 0, 0); },
               "参数异常!未知的补缴计费结束时间!"},
              {[&] { return ZOLVOSDK::suppOrder(p, T1, T2, "", 0, 0); },
               "参数异常!未知的补缴订单流水号!"},
              {[&] { return ZOLVOSDK::suppOrder(p, T1, T2, O, 0, 0); }, "参数异常!未知的停车时长!"},
              {[&] { return ZOLVOSDK::suppOrder(p, T1, T2, O, -60, -1); }, "参数异常!未知的金额!"},
          });
    climb("uploadFile",
          {
              {[] { return ZOLVOSDK::uploadFile("", "", ""); }, serial},
              {[] { return ZOLVOSDK::uploadFile(O, "", ""); }, "上传的附件为空!"},
              {[] { return ZOLVOSDK::uploadFile(O, "/nonexistent", ""); }, "附件类型为空!"},
          });
    EXPECT_EQ(server.requestCount(), 0u) << "a refused call sent something";
}

TEST_F(Request, LengthsCountGbkBytesAndNulFirstIsAbsent) {
    const std::string plateText = "参数异常!未知的车牌号!";
    const std::string timeText = "参数异常!未知的入场时间!";
    // One Chinese character and five ASCII: 7 bytes, passes; six ASCII: fails.
    EXPECT_NE(ZOLVOSDK::finish(O, gbk("陕A8888"), T2), refused(plateText));
    EXPECT_EQ(ZOLVOSDK::finish(O, "A88888", T2), refused(plateText));
    // 13 bytes fail, 14 bytes pass whatever the characters.
    EXPECT_EQ(ZOLVOSDK::entry(gbk(P), "2018083112305", O, "", 0, ""), refused(timeText));
    EXPECT_NE(ZOLVOSDK::entry(gbk(P), gbk("二〇一八年八月"), O, "", 0, ""), refused(timeText));
    EXPECT_EQ(server.requestCount(), 2u);
    server.clearRequests();

    // A NUL at the first byte makes a text absent, whatever its length.
    const std::string nulFirst("\0ABCDEFGHIJKLMNOP", 17);
    EXPECT_EQ(ZOLVOSDK::entry(nulFirst, T1, O, "", 0, ""), refused(plateText));
    EXPECT_EQ(ZOLVOSDK::entry(gbk(P), nulFirst, O, "", 0, ""), refused(timeText));
    EXPECT_EQ(ZOLVOSDK::queryOrder(nulFirst), refused("参数异常!未知的订单号!"));
    EXPECT_EQ(ZOLVOSDK::uploadFile(O, std::string("\0/tmp", 5), "entry"),
              refused("上传的附件为空!"));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(Request, DurationAndAmountRules) {
    const std::string p = gbk(P);
    const std::string duration = "参数异常!未知的停车时长!";
    const std::string amount = "参数异常!未知的金额!";
    // pushOrder refuses zero and negative durations.
    EXPECT_EQ(ZOLVOSDK::pushOrder(O, p, T1, "1", T2, "1", 0, 300), refused(duration));
    EXPECT_EQ(ZOLVOSDK::pushOrder(O, p, T1, "1", T2, "1", -60, 300), refused(duration));
    // leave, scanningOrder and suppOrder refuse only zero.
    EXPECT_EQ(ZOLVOSDK::leave(p, T2, O, 0, 300, "", 0, ""), refused(duration));
    EXPECT_EQ(ZOLVOSDK::scanningOrder("S", O, p, T1, "1", T2, "1", 0, 300), refused(duration));
    EXPECT_EQ(ZOLVOSDK::suppOrder(p, T1, T2, O, 0, 300), refused(duration));
    // Amounts must be 1 or more everywhere.
    for (int bad : {0, -1, INT_MIN}) {
        EXPECT_EQ(ZOLVOSDK::leave(p, T2, O, 60, bad, "", 0, ""), refused(amount)) << bad;
        EXPECT_EQ(ZOLVOSDK::pushOrder(O, p, T1, "1", T2, "1", 60, bad), refused(amount)) << bad;
        EXPECT_EQ(ZOLVOSDK::scanningOrder("S", O, p, T1, "1", T2, "1", 60, bad), refused(amount))
            << bad;
        EXPECT_EQ(ZOLVOSDK::suppOrder(p, T1, T2, O, 60, bad), refused(amount)) << bad;
    }
    EXPECT_EQ(server.requestCount(), 0u);

    // -60 goes through leave, scanningOrder and suppOrder with its minus sign.
    ZOLVOSDK::leave(p, T2, O, -60, 1, "", 0, "");
    ZOLVOSDK::scanningOrder("S", O, p, T1, "1", T2, "1", -60, 1);
    ZOLVOSDK::suppOrder(p, T1, T2, O, -60, 1);
    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), 3u);
    for (const auto& request : sent) {
        EXPECT_NE(wireForm(request).find("&duration=-60&"), std::string::npos) << request.path;
    }
}

TEST_F(Request, WideLongIsTakenAsItsLow32Bits) {
    if (sizeof(long) <= 4) GTEST_SKIP() << "long is 32-bit here";
    const long twoTo32 = static_cast<long>(1) << 32;
    // The target's long cannot hold 2^32: its low 32 bits, 0, are refused.
    EXPECT_EQ(ZOLVOSDK::pushOrder(O, gbk(P), T1, "1", T2, "1", twoTo32, 300),
              refused("参数异常!未知的停车时长!"));
    ZOLVOSDK::pushOrder(O, gbk(P), T1, "1", T2, "1", twoTo32 + 3600, 300);
    const auto request = onlyRequest();
    EXPECT_NE(rig::utf8ToGbk(request.body).find("&duration=3600&"), std::string::npos);
}

}  // namespace
}  // namespace reqtest
