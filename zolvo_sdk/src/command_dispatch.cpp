// The command dispatch: JSON command payloads to CommandInterface calls.
#include "command_dispatch.h"

#include <json/json.h>

#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

namespace zolvo_sdk {

void dispatchCommand(CommandInterface& object, const char* text) {
    Json::CharReaderBuilder builder;
    Json::Value parsed;
    std::string errors;
    bool ok = false;
    try {
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        ok = reader->parse(text, text + std::strlen(text), &parsed, &errors);
    } catch (const std::exception&) {
        // The reader gives up on some texts (nesting deeper than it allows) by
        // throwing: a payload that does not parse, ignored like any other.
        ok = false;
    }
    if (!ok || !errors.empty()) return;
    const Json::Value& root = parsed;
    const std::string command = root["command"].asString();
    if (command.empty()) return;

    if (command == "prePay") {
        std::string orderId = root["orderId"].asString();
        std::string carNumber = root["carNumber"].asString();
        std::string parkCode = root["parkCode"].asString();
        object.queryOrder(parkCode, orderId, carNumber);
    } else if (command == "qrCodePay") {
        std::string parkCode = root["parkCode"].asString();
        std::string sysCode = root["sysCode"].asString();
        std::string channel = root["channel"].asString();
        std::string scanNumber = root["scanNumber"].asString();
        std::string orderId = root["orderId"].asString();
        std::string carNumber = root["carNumber"].asString();
        int tempCar = root["tempCar"].asInt();
        object.scanQrCodePay(parkCode, sysCode, channel, scanNumber, orderId, carNumber, tempCar);
    } else if (command == "qrCodeEntry") {
        std::string parkCode = root["parkCode"].asString();
        std::string sysCode = root["sysCode"].asString();
        std::string channel = root["channel"].asString();
        std::string carNumber = root["carNumber"].asString();
        std::string scanNumber = root["scanNumber"].asString();
        object.scanQrEntry(parkCode, sysCode, channel, carNumber, scanNumber);
    } else if (command == "payNotice") {
        std::string orderId = root["orderId"].asString();
        std::string carNumber = root["carNumber"].asString();
        int payStatus = root["payStatus"].asInt();
        int payAmount = root["payAmount"].asInt();
        int duration = root["duration"].asInt();
        std::string inTime = root["inTime"].asString();
        std::string outTime = root["outTime"].asString();
        std::string payTime = root["payTime"].asString();
        int payMethod = root["payMethod"].asInt();
        std::string parkCode = root["parkCode"].asString();
        object.noticeOfPaymentResult(orderId, carNumber, payStatus, payAmount, duration, inTime,
                                     outTime, payTime, payMethod, parkCode);
    } else {
        std::cout << " Unknown command !" << std::endl;
    }
}

}  // namespace zolvo_sdk
