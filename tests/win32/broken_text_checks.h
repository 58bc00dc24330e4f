// The Linux checks of a request made by one of the calls of broken_texts.h.
#ifndef ZOLVO_TESTS_BROKEN_TEXT_CHECKS_H
#define ZOLVO_TESTS_BROKEN_TEXT_CHECKS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "broken_texts.h"
#include "rig.h"

namespace brokentext {

// The platform received every key of the function in order, "sign" last with
// 32 upper-case hex digits; the broken argument arrived as its text and one
// U+FFFD; and the signature covers the text as the host passed it.
inline void checkRequest(const Case& c, const rig::RecordedRequest& request,
                         const std::string& key) {
    const Function& f = *c.function;
    EXPECT_EQ(request.path, f.path);
    EXPECT_EQ(request.multipart, f.multipart);
    const std::string wire = rig::wireForm(request);
    const auto pairs = rig::parseForm(wire);
    std::vector<std::string> keys;
    for (const auto& p : pairs) keys.push_back(p.first);
    EXPECT_EQ(keys, f.keys) << rig::hex(wire);
    if (keys != f.keys) return;
    EXPECT_TRUE(std::regex_match(pairs.back().second, std::regex("[0-9A-F]{32}")))
        << pairs.back().second;

    const std::string& brokenKey = f.argumentKeys[c.argument];
    const std::string base = baseValue(brokenKey);
    if (brokenKey[0] != '-') {
        EXPECT_NE(std::find(keys.begin(), keys.end(), brokenKey), keys.end()) << brokenKey;
    }
    std::string gbkForm;
    for (const auto& [name, value] : pairs) {
        if (name == "sign") break;
        std::string original = rig::utf8ToGbk(value);
        if (name == brokenKey) {
            EXPECT_EQ(rig::hex(value), rig::hex(rig::gbkToUtf8(base) + "\xEF\xBF\xBD"));
            original = base + c.ending;
        }
        gbkForm += (gbkForm.empty() ? "" : "&") + name + "=" + original;
    }
    EXPECT_TRUE(rig::checkSign(gbkForm + "&sign=" + pairs.back().second, key)) << rig::hex(gbkForm);
}

}  // namespace brokentext

#endif
