// Shared set-up of the request tests: a platform server on loopback and a
// library initialised against it with a fixed car park.
#ifndef ZOLVO_TESTS_REQUEST_FIXTURE_H
#define ZOLVO_TESTS_REQUEST_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "rig.h"
#include "wire_cases.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace reqtest {

using rig::wireForm;
using zolvo_sdk::ZOLVOSDK;

using wirecases::kChannel;
using wirecases::kKey;
using wirecases::kParkCode;
using wirecases::kSysCode;

// GBK bytes of a text written readable (UTF-8) in the source.
inline std::string gbk(const std::string& utf8) { return rig::utf8ToGbk(utf8); }

using rig::resultText;
inline std::string refused(const std::string& msgUtf8) { return resultText("1000", msgUtf8); }
inline std::string notInitialised() { return resultText("1010", "SDK未初始化!"); }

inline void ignoreCommand(const char*) {}

class Request : public ::testing::Test {
protected:
    void SetUp() override {
        ZOLVOSDK::setCallBackFun(&ignoreCommand);
        const std::string reply =
            ZOLVOSDK::init("ZOLVO-TEST", kParkCode, kSysCode, kChannel, kKey, server.baseUrl());
        ASSERT_NE(reply.find("\"code\":\"0000\""), std::string::npos) << reply;
        server.clearRequests();
    }

    // The one request recorded since set-up; fails the test unless there is exactly one.
    rig::RecordedRequest onlyRequest() {
        const auto all = server.requests();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? rig::RecordedRequest() : all.front();
    }

    // Names of the multipart parts, in order.
    static std::string partNames(const rig::RecordedRequest& request) {
        std::string names;
        for (const auto& part : request.parts) names += (names.empty() ? "" : ",") + part.name;
        return names;
    }

    rig::PlatformServer server;
};

}  // namespace reqtest

#endif
