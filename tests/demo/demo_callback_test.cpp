// CallBackImpl called directly, without a platform: the library's refusal
// passed through when the library is not initialised (the answers to real
// commands are covered against the broker in demo_e2e_test).
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "callbackimpl.h"
#include "demo_test_util.h"

using demotest::CoutCapture;
using demotest::gbk;

TEST(CallBackImpl, RefusalOfAnUninitialisedLibraryIsWrittenAfterItsLabel)
{
    const std::string refusal = gbk("{\"code\":\"1010\",\"msg\":\"SDK未初始化!\"}");
    CallBackImpl impl;
    {
        CoutCapture out;
        impl.queryOrder("P", "ORD00001", "");
        EXPECT_EQ(out.text(), "client interface impl queryOrder() \n"
                              "CallBackImpl --> _carNumber() -->\n"
                              "CallBackImpl --> queryOrder() -->" +
                                  refusal + "\n");
    }
    {
        CoutCapture out;
        impl.scanQrCodePay("P", "S", "C", "N", "O", "ABC1234", -5);
        EXPECT_EQ(out.text(), "client interface impl scanQrCodePay() parkCode:P\n"
                              "client interface impl scanQrCodePay() sysCode:S\n"
                              "client interface impl scanQrCodePay() channel:C\n"
                              "client interface impl scanQrCodePay() scanNumber:N\n"
                              "client interface impl scanQrCodePay() tempCar:-5\n"
                              "CallBackImpl --> scanQrCodePay() -->" +
                                  refusal + "\n");
    }
}

TEST(CallBackImpl, DeletionThroughTheInterfaceWritesNothing)
{
    CoutCapture out;
    zolvo_sdk::CommandInterface *object = new CallBackImpl();
    delete object;
    EXPECT_EQ(out.text(), "");
}
