// The library's own result texts; their messages are GBK on every system.
#include "result_text.h"

#include <mutex>
#include <unordered_map>

#include "codepage.h"

namespace zolvo_sdk {

std::string resultText(const char* code, const char* msgUtf8) {
    // The GBK form of each message is made once and kept: the messages are the
    // library's own fixed texts, so the cache stays small. Never destroyed, so
    // that a thread still running at process exit finds it intact.
    static std::mutex& mutex = *new std::mutex;
    static auto& cache = *new std::unordered_map<std::string, std::string>;

    std::string gbk;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = cache.find(msgUtf8);
        if (found != cache.end()) {
            gbk = found->second;
        } else {
            gbk = utf8ToGbk(msgUtf8);
            cache.emplace(msgUtf8, gbk);
        }
    }
    return std::string("{\"code\":\"") + code + "\",\"msg\":\"" + gbk + "\"}";
}

}  // namespace zolvo_sdk
