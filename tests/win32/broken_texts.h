// Calls of the six request functions that convert their form text, each with
// one text argument ending in a byte sequence that is no complete GBK
// character. Shared by the Windows host program (host.cpp) and the Linux
// tests, so that both systems make the very same calls.
#ifndef ZOLVO_TESTS_BROKEN_TEXTS_H
#define ZOLVO_TESTS_BROKEN_TEXTS_H

#include <functional>
#include <string>
#include <vector>

#include "zolvo_sdk/zolvo_sdk.h"

namespace brokentext {

// Endings: a lone lead byte at either end of the lead range, and the first
// byte of a cut character (D6 D0 is "中").
inline const std::vector<std::string>& endings() {
    static const std::vector<std::string> all = {"\x81", "\xFE", "\xD6"};
    return all;
}

struct Function {
    const char* name;
    const char* path;
    bool multipart;
    // The keys of its form text in order, "sign" last.
    std::vector<std::string> keys;
    // The text arguments, with the key each one fills ("-outChannel": the
    // argument that no key takes, the form's outChannel being the car park's
    // lane).
    std::vector<std::string> argumentKeys;
    // Calls the function with these text arguments (in the order of argumentKeys).
    std::function<std::string(const std::vector<std::string>&)> call;
};

// GBK bytes of the texts (陕A88888, 扫SCAN01), written as bytes so that no
// source encoding is involved.
inline std::string plate() {
    return "\xC9\xC2"
           "A88888";
}
inline std::string scan() {
    return "\xC9\xA8"
           "SCAN01";
}

inline const std::vector<Function>& functions() {
    using zolvo_sdk::ZOLVOSDK;
    using Args = std::vector<std::string>;
    static const std::vector<Function> all = {
        {"entry",
         "/api/car/enter.do",
         true,
         {"carNumber", "entryType", "inChannel", "inTime", "orderId", "parkCode", "scanNumber",
          "sysCode", "sign"},
         {"carNumber", "inTime", "orderId", "scanNumber"},
         [](const Args& a) { return ZOLVOSDK::entry(a[0], a[1], a[2], "", 2, a[3]); }},
        {"leave",
         "/api/car/out.do",
         true,
         {"carNumber", "duration", "orderAmount", "orderId", "outTime", "outType", "parkCode",
          "scanNumber", "sysCode", "sign"},
         {"carNumber", "outTime", "orderId", "scanNumber"},
         [](const Args& a) { return ZOLVOSDK::leave(a[0], a[1], a[2], -60, 300, "", 2, a[3]); }},
        {"freeCar",
         "/api/free/car/push.do",
         false,
         {"carNumber", "channel", "delFlag", "endTime", "parkCode", "remarks", "startTime",
          "sysCode", "sign"},
         {"carNumber", "startTime", "endTime", "remarks"},
         [](const Args& a) { return ZOLVOSDK::freeCar(a[0], a[1], a[2], a[3], true); }},
        {"pushOrder",
         "/api/order/receive.do",
         false,
         {"carNumber", "duration", "inChannel", "inTime", "orderAmount", "orderId", "outChannel",
          "outTime", "parkCode", "sysCode", "sign"},
         {"orderId", "carNumber", "inTime", "inChannel", "outTime", "-outChannel"},
         [](const Args& a) {
             return ZOLVOSDK::pushOrder(a[0], a[1], a[2], a[3], a[4], a[5], 3600, 300);
         }},
        {"scanningOrder",
         "/api/qr/order/receive.do",
         false,
         {"carNumber", "duration", "inChannel", "inTime", "orderAmount", "orderId", "outChannel",
          "outTime", "parkCode", "scanNumner", "sign"},
         {"scanNumner", "orderId", "carNumber", "inTime", "inChannel", "outTime", "-outChannel"},
         [](const Args& a) {
             return ZOLVOSDK::scanningOrder(a[0], a[1], a[2], a[3], a[4], a[5], a[6], -60, 300);
         }},
        {"suppOrder",
         "/api/order/supp.do",
         false,
         {"carNumber", "channel", "duration", "endTime", "orderAmount", "orderId", "parkCode",
          "startTime", "sysCode", "sign"},
         {"carNumber", "startTime", "endTime", "orderId"},
         [](const Args& a) { return ZOLVOSDK::suppOrder(a[0], a[1], a[2], a[3], -60, 300); }},
    };
    return all;
}

// The unbroken value of a text argument, by the key it fills.
inline std::string baseValue(const std::string& argumentKey) {
    if (argumentKey == "carNumber") return plate();
    if (argumentKey == "scanNumber" || argumentKey == "scanNumner") return scan();
    if (argumentKey == "orderId") return "201808310001";
    if (argumentKey == "remarks") return "\xB3\xA4\xC6\xDA";  // 长期
    if (argumentKey == "inChannel" || argumentKey == "-outChannel") return "0001";
    return "20180831123056";  // the times
}

// One call: `function` with its text argument `argument` ending in `ending`.
struct Case {
    const Function* function;
    size_t argument;
    std::string ending;
    std::string label() const;
};

inline std::string Case::label() const {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : ending) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return std::string(function->name) + "-" + function->argumentKeys[argument] + "-" + hex;
}

// Every case, in the order in which runAll makes the calls.
inline std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (const Function& f : functions()) {
        for (size_t i = 0; i < f.argumentKeys.size(); ++i) {
            for (const std::string& e : endings()) cases.push_back(Case{&f, i, e});
        }
    }
    return cases;
}

// Makes the call of one case and returns what the function returned.
inline std::string run(const Case& c) {
    std::vector<std::string> args;
    for (const std::string& key : c.function->argumentKeys) args.push_back(baseValue(key));
    args[c.argument] += c.ending;
    return c.function->call(args);
}

}  // namespace brokentext

#endif
