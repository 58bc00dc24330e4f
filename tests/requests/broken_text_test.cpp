// Text arguments that end in a broken or cut GBK character: the converting
// request functions still send every key of their form, and the signature.
#include "broken_text_checks.h"
#include "request_fixture.h"

namespace reqtest {
namespace {

TEST_F(Request, BrokenGbkEndingsKeepEveryKeyAndTheSignature) {
    size_t calls = 0;
    for (const brokentext::Case& c : brokentext::allCases()) {
        SCOPED_TRACE(c.label());
        server.clearRequests();
        const std::string reply = brokentext::run(c);
        EXPECT_EQ(reply.find("\"code\":\"1000\""), std::string::npos) << reply;
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        brokentext::checkRequest(c, requests.front(), kKey);
        ++calls;
    }
    EXPECT_EQ(calls, 29u * brokentext::endings().size());
}

}  // namespace
}  // namespace reqtest
