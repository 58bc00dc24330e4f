// The init road (placeholder).
#include "sdk_state.h"

namespace zolvo_sdk {

std::string ZOLVOSDK::init(std::string, std::string, std::string, std::string, std::string,
                           std::string) {
    return std::string();
}

}  // namespace zolvo_sdk
