// A host program built against an installed library: it registers a callback
// object and asks for an order before initialising, which the library refuses.
#include <zolvo_sdk/zolvo_sdk.h>

#include <cstdio>
#include <string>

int main() {
    zolvo_sdk::ZOLVOSDK::setCommandInterface(new zolvo_sdk::CommandInterface());
    std::string result = zolvo_sdk::ZOLVOSDK::queryOrder("20180831123056001");
    std::printf("queryOrder: %s\n", result.c_str());
    zolvo_sdk::ZOLVOSDK sdk;  // its destructor tears the library's state down
    return result.rfind("{\"code\":\"1010\"", 0) == 0 ? 0 : 1;
}
