// The demo's answers to the platform's commands: a pre-payment request and a
// QR-code payment are answered by pushing an order back through the library,
// a QR-code entry and a payment result are only logged. Called by the library
// on its MQTT thread; touches nothing of the window.
#ifndef ZOLVO_DEMO_CALLBACKIMPL_H
#define ZOLVO_DEMO_CALLBACKIMPL_H

#include <string>

#include "zolvo_sdk/zolvo_sdk.h"

class CallBackImpl : public zolvo_sdk::CommandInterface
{
public:
    CallBackImpl() = default;
    ~CallBackImpl() override = default;

    // A new object for one submit, to be handed to the library, which owns it
    // from then on. A registration that the next submit replaces before the
    // command channel took it is never freed: the ownership rules allow that
    // loss, and the sanitizer builds' leak suppressions name this function.
    static CallBackImpl *create();

    void queryOrder(std::string parkCode, std::string orderId, std::string carNumber) override;
    void scanQrCodePay(std::string parkCode, std::string sysCode, std::string channel,
                       std::string scanNumber, std::string orderId, std::string carNumber,
                       int tempCar) override;
    void scanQrEntry(std::string parkCode, std::string sysCode, std::string channel,
                     std::string carNumber, std::string scanNumber) override;
    void noticeOfPaymentResult(std::string orderId, std::string carNumber, int payStatus,
                               int payAmount, int duration, std::string inTime, std::string outTime,
                               std::string payTime, int payMethod, std::string parkCode) override;
};

#endif  // ZOLVO_DEMO_CALLBACKIMPL_H
