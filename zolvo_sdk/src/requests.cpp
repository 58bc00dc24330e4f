// The request road and the nine request functions (placeholder).
#include "sdk_state.h"

namespace zolvo_sdk {

std::string ZOLVOSDK::entry(std::string, std::string, std::string, std::string, int, std::string) { return {}; }
std::string ZOLVOSDK::leave(std::string, std::string, std::string, long, int, std::string, int, std::string) { return {}; }
std::string ZOLVOSDK::finish(std::string, std::string, std::string) { return {}; }
std::string ZOLVOSDK::freeCar(std::string, std::string, std::string, std::string, bool) { return {}; }
std::string ZOLVOSDK::pushOrder(std::string, std::string, std::string, std::string, std::string, std::string, long, int) { return {}; }
std::string ZOLVOSDK::queryOrder(std::string) { return {}; }
std::string ZOLVOSDK::scanningOrder(std::string, std::string, std::string, std::string, std::string, std::string, std::string, long, int) { return {}; }
std::string ZOLVOSDK::suppOrder(std::string, std::string, std::string, std::string, long, int) { return {}; }
std::string ZOLVOSDK::uploadFile(std::string, std::string, std::string) { return {}; }

}  // namespace zolvo_sdk
