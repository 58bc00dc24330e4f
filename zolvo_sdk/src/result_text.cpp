// The library's own result texts; their messages are GBK on every system.
#include "result_text.h"

#include <mutex>
#include <unordered_map>

#include "codepage.h"
#include "never_destroyed.h"

namespace zolvo_sdk {

std::string resultText(const char* code, const char* msgUtf8) {
    // The GBK form of each message is made once and kept: the messages are the
    // library's own fixed texts, so the cache stays small.
    static NeverDestroyed<std::mutex> mutex;
    static NeverDestroyed<std::unordered_map<std::string, std::string>> cache;

    std::string gbk;
    {
        std::lock_guard<std::mutex> lock(mutex.get());
        auto found = cache.get().find(msgUtf8);
        if (found != cache.get().end()) {
            gbk = found->second;
        } else {
            gbk = utf8ToGbk(msgUtf8);
            cache.get().emplace(msgUtf8, gbk);
        }
    }
    return std::string("{\"code\":\"") + code + "\",\"msg\":\"" + gbk + "\"}";
}

}  // namespace zolvo_sdk
