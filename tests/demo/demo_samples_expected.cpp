#include "demo_test_util.h"

namespace demotest {

const char *const kExpectedSamples[8] = {
    "{\n\"manufacturer\":\"201808290001\",\n\"parkCode\":\"201808150001\",\n\"sysCode\":\"0001\",\n"
    "\"channelNumber\":\"A4\",\n\"key\":\"586013972460318275\",\n"
    "\"zolvoUrl\":\"http://127.0.0.1:18080\"\n}",
    "{\n\"carNumber\":\"陕A88888\",\n\"inTime\":\"20180831123056\",\n\"orderId\":"
    "\"201808310001\"\n}",
    "{\n\"carNumber\":\"陕A88888\",\n\"outTime\":\"20180831133056\",\n\"orderId\":\"201808310001\","
    "\n"
    "\"orderAmount\":300,\n\"duration\":3600,\n"
    "\"scanNumber\":\"25de84afecb04c3a87670f4a7005ec49\",\n\"outType\":2\n}",
    "{\n\"carNumber\":\"陕A88888\",\n\"orderId\":\"201808310001\",\n\"finishTime\":"
    "\"20180831133156\"\n}",
    "{\n\"carNumber\":\"陕A88888\",\n\"orderId\":\"201808310001\"\n}",
    "{\n\"orderId\":\"201808310001\",\n\"attType\":\"entry\"\n}",
    "{\n\"carNumber\":\"陕A88888\",\n\"startTime\":\"20180831133056\",\n\"endTime\":"
    "\"20180831143056\",\n"
    "\"orderId\":\"201808310001\",\n\"orderAmount\":300,\n\"duration\":3600\n}",
    "{\n\"carNumber\":\"陕A88888\",\n\"startTime\":\"20180831133056\",\n\"endTime\":"
    "\"20180830143056\",\n"
    "\"remarks\":\"baoyueche\",\n\"delFlag\":0\n}",
};

}  // namespace demotest
