// Default implementation of the callback interface: one line per command.
#include <iostream>

#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

CommandInterface::CommandInterface() = default;
CommandInterface::~CommandInterface() = default;

void CommandInterface::queryOrder(std::string, std::string, std::string) {
    std::cout << "sdk dll command interface impl queryOrder() " << std::endl;
}

void CommandInterface::scanQrCodePay(std::string, std::string, std::string, std::string,
                                     std::string, std::string, int) {
    std::cout << "sdk dll command interface impl scanQrCodePay() " << std::endl;
}

void CommandInterface::scanQrEntry(std::string, std::string, std::string, std::string,
                                   std::string) {
    std::cout << "sdk dll command interface impl scanQrEntry()" << std::endl;
}

void CommandInterface::noticeOfPaymentResult(std::string, std::string, int, int, int, std::string,
                                             std::string, std::string, int, std::string) {
    std::cout << "sdk dll command interface impl noticeOfPaymentResult()" << std::endl;
}

}  // namespace zolvo_sdk
