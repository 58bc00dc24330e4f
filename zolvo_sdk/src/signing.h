// The request signature and the init nonce.
#ifndef ZOLVO_SDK_SIGNING_H
#define ZOLVO_SDK_SIGNING_H

#include <string>

namespace zolvo_sdk {

// formText + "&sign=" + upper-hex MD5(formText + "&key=" + key)
std::string signRequest(const std::string& formText, const std::string& key);

class Util {
public:
    // 32 characters of [0-9a-zA-Z].
    static std::string randomString();
};

}  // namespace zolvo_sdk

#endif
