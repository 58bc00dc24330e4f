#include "callbackimpl.h"

#include <iostream>

namespace {

// The sample order the demo pushes in answer to a command.
const char *const kInTime = "20180831123056";
const char *const kInChannel = "0001";
const char *const kOutTime = "20180831133056";
const char *const kOutChannel = "0001";
const long kDuration = 3600;
const int kOrderAmount = 300;

}  // namespace

CallBackImpl *CallBackImpl::create()
{
    return new CallBackImpl();
}

void CallBackImpl::queryOrder(std::string /*parkCode*/, std::string orderId, std::string carNumber)
{
    std::cout << "client interface impl queryOrder() " << std::endl;
    std::cout << "CallBackImpl --> _carNumber() -->" << carNumber << std::endl;
    const std::string result = zolvo_sdk::ZOLVOSDK::pushOrder(
        orderId, carNumber, kInTime, kInChannel, kOutTime, kOutChannel, kDuration, kOrderAmount);
    std::cout << "CallBackImpl --> queryOrder() -->" << result << std::endl;
}

void CallBackImpl::scanQrCodePay(std::string parkCode, std::string sysCode, std::string channel,
                                 std::string scanNumber, std::string orderId, std::string carNumber,
                                 int tempCar)
{
    std::cout << "client interface impl scanQrCodePay() parkCode:" << parkCode << std::endl;
    std::cout << "client interface impl scanQrCodePay() sysCode:" << sysCode << std::endl;
    std::cout << "client interface impl scanQrCodePay() channel:" << channel << std::endl;
    std::cout << "client interface impl scanQrCodePay() scanNumber:" << scanNumber << std::endl;
    std::cout << "client interface impl scanQrCodePay() tempCar:" << tempCar << std::endl;
    const std::string result =
        zolvo_sdk::ZOLVOSDK::scanningOrder(scanNumber, orderId, carNumber, kInTime, kInChannel,
                                           kOutTime, kOutChannel, kDuration, kOrderAmount);
    std::cout << "CallBackImpl --> scanQrCodePay() -->" << result << std::endl;
}

void CallBackImpl::scanQrEntry(std::string parkCode, std::string sysCode, std::string channel,
                               std::string carNumber, std::string scanNumber)
{
    std::cout << "client interface impl scanQrEntry() " << std::endl;
    std::cout << "client interface impl scanQrEntry() parkCode --> " << parkCode << std::endl;
    std::cout << "client interface impl scanQrEntry() sysCode --> " << sysCode << std::endl;
    std::cout << "client interface impl scanQrEntry() channel --> " << channel << std::endl;
    std::cout << "client interface impl scanQrEntry() carNumber --> " << carNumber << std::endl;
    std::cout << "client interface impl scanQrEntry() scanNumber --> " << scanNumber << std::endl;
}

void CallBackImpl::noticeOfPaymentResult(std::string /*orderId*/, std::string /*carNumber*/,
                                         int payStatus, int /*payAmount*/, int /*duration*/,
                                         std::string /*inTime*/, std::string /*outTime*/,
                                         std::string /*payTime*/, int /*payMethod*/,
                                         std::string /*parkCode*/)
{
    std::cout << "client interface impl noticeOfPaymentResult() " << std::endl;
    if (payStatus != 0)
        std::cout << "client interface impl noticeOfPaymentResult() pay success!" << std::endl;
    else
        std::cout << "client interface impl noticeOfPaymentResult() pay error!" << std::endl;
}
