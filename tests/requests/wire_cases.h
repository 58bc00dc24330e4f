// The nine request functions, one call each, and what each must put on the
// wire. One table for the Linux request tests (wire_test.cpp), the Windows
// host program that makes the same calls under wine (tests/win32/host.cpp)
// and its Linux driver (tests/win32/driver.cpp), which both check a recorded
// request with checkWire.
#ifndef ZOLVO_TESTS_REQUESTS_WIRE_CASES_H
#define ZOLVO_TESTS_REQUESTS_WIRE_CASES_H

#include <string>

#include "zolvo_sdk/zolvo_sdk.h"

namespace wirecases {

using zolvo_sdk::ZOLVOSDK;

// The car park of every call.
constexpr const char* kKey = "7Hq2Lm9PxW4c";
constexpr const char* kParkCode = "201808150001";
constexpr const char* kSysCode = "0001";
constexpr const char* kChannel = "A4";

// GBK bytes of the texts of the calls (陕A88888, 陕201808310001, 扫SCAN01,
// 长期免费 车辆, 入场), written as bytes so that no source encoding is involved.
const std::string kPlate = "\xC9\xC2"
                           "A88888";
const std::string kOrderGbk = "\xC9\xC2"
                              "201808310001";
const std::string kScanGbk = "\xC9\xA8"
                             "SCAN01";
const std::string kRemarks = "\xB3\xA4\xC6\xDA\xC3\xE2\xB7\xD1 \xB3\xB5\xC1\xBE";
const std::string kAttType = "\xC8\xEB\xB3\xA1";
// The upload's file contents.
const std::string kUploadBytes("\xFF\xD8\xFF\xE0\0JFIF", 9);

struct WireCase {
    const char* name;
    const char* path;
    bool multipart;
    bool utf8;         // the form text goes out converted to UTF-8
    const char* form;  // the form text before signing, readable (UTF-8) here
    std::string (*call)(const std::string& uploadFile);
};

const WireCase kCases[] = {
    {"entry", "/api/car/enter.do", true, true,
     "carNumber=陕A88888&entryType=2&inChannel=0001&inTime=20180831123056&orderId=201808310001"
     "&parkCode=201808150001&scanNumber=扫SCAN01&sysCode=0001",
     [](const std::string&) {
         return ZOLVOSDK::entry(kPlate, "20180831123056", "201808310001", "", 2, kScanGbk);
     }},
    {"leave", "/api/car/out.do", true, true,
     "carNumber=陕A88888&duration=-60&orderAmount=300&orderId=201808310001"
     "&outTime=20180831133056&outType=2&parkCode=201808150001&scanNumber=SCAN01&sysCode=0001",
     [](const std::string&) {
         return ZOLVOSDK::leave(kPlate, "20180831133056", "201808310001", -60, 300, "", 2,
                                "SCAN01");
     }},
    {"finish", "/api/car/leave.do", false, false,
     "carNumber=陕A88888&finishTime=20180831133056&orderId=201808310001&parkCode=201808150001",
     [](const std::string&) { return ZOLVOSDK::finish("201808310001", kPlate, "20180831133056"); }},
    {"freeCar", "/api/free/car/push.do", false, true,
     "carNumber=陕A88888&channel=A4&delFlag=1&endTime=20181231235959&parkCode=201808150001"
     "&remarks=长期免费 车辆&startTime=20180901000000&sysCode=0001",
     [](const std::string&) {
         return ZOLVOSDK::freeCar(kPlate, "20180901000000", "20181231235959", kRemarks, true);
     }},
    {"pushOrder", "/api/order/receive.do", false, true,
     "carNumber=陕A88888&duration=3600&inChannel=0001&inTime=20180831123056&orderAmount=300"
     "&orderId=201808310001&outChannel=A4&outTime=20180831133056&parkCode=201808150001"
     "&sysCode=0001",
     [](const std::string&) {
         return ZOLVOSDK::pushOrder("201808310001", kPlate, "20180831123056", "0001",
                                    "20180831133056", "0001", 3600, 300);
     }},
    {"queryOrder", "/api/order/query.do", false, false,
     "orderId=陕201808310001&parkCode=201808150001",
     [](const std::string&) { return ZOLVOSDK::queryOrder(kOrderGbk); }},
    {"scanningOrder", "/api/qr/order/receive.do", false, true,
     "carNumber=陕A88888&duration=-60&inChannel=0001&inTime=20180831123056&orderAmount=300"
     "&orderId=201808310001&outChannel=A4&outTime=20180831133056&parkCode=201808150001"
     "&scanNumner=SCAN01",
     [](const std::string&) {
         return ZOLVOSDK::scanningOrder("SCAN01", "201808310001", kPlate, "20180831123056", "0001",
                                        "20180831133056", "0002", -60, 300);
     }},
    // An end time before the start time is accepted.
    {"suppOrder", "/api/order/supp.do", false, true,
     "carNumber=陕A88888&channel=A4&duration=-60&endTime=20180731000000&orderAmount=300"
     "&orderId=SUPP0001&parkCode=201808150001&startTime=20180801000000&sysCode=0001",
     [](const std::string&) {
         return ZOLVOSDK::suppOrder(kPlate, "20180801000000", "20180731000000", "SUPP0001", -60,
                                    300);
     }},
    {"uploadFile", "/api/file/upload.do", true, false,
     "attType=入场&orderId=陕201808310001&parkCode=201808150001",
     [](const std::string& uploadFile) {
         return ZOLVOSDK::uploadFile(kOrderGbk, uploadFile, kAttType);
     }},
};

}  // namespace wirecases

#ifndef _WIN32
#  include <gtest/gtest.h>

#  include <ostream>

#  include "rig.h"

namespace wirecases {

inline void PrintTo(const WireCase& c, std::ostream* os) { *os << c.name; }

// The request that the call of `c` made, as the platform recorded it.
inline void checkWire(const WireCase& c, const rig::RecordedRequest& request) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, c.path);
    EXPECT_EQ(request.multipart, c.multipart);
    if (c.multipart) {
        EXPECT_EQ(request.header("Content-Type").rfind("multipart/form-data", 0), 0u)
            << request.header("Content-Type");
    } else {
        EXPECT_EQ(request.header("Content-Type"),
                  "application/x-www-form-urlencoded; charset=UTF-8");
    }
    // 陕 travels as UTF-8 (E9 99 95) or as its GBK bytes (C9 C2), as the platform expects.
    const std::string wire = rig::wireForm(request);
    EXPECT_NE(wire.find(c.utf8 ? "\xE9\x99\x95" : "\xC9\xC2"), std::string::npos) << rig::hex(wire);
    if (!c.utf8) {
        EXPECT_EQ(wire.find("\xE9\x99\x95"), std::string::npos);
    }
    // The signature covers the GBK text; the key itself never goes out.
    const std::string asGbk = c.utf8 ? rig::utf8ToGbk(wire) : wire;
    EXPECT_TRUE(rig::checkSign(asGbk, kKey)) << asGbk;
    EXPECT_EQ(rig::hex(asGbk), rig::hex(rig::signedForm(rig::utf8ToGbk(c.form), kKey)));
    EXPECT_EQ(request.body.find(kKey), std::string::npos);
}

}  // namespace wirecases
#endif

#endif
