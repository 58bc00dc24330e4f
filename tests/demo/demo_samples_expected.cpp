#include "demo_test_util.h"

namespace demotest {

const WidgetRow kWidgetTable[10] = {
    {"typeComboBox", "QComboBox", QRect(180, 10, 200, 26), QSize(160, 20), 9, false, nullptr},
    {"reqLabel", "QLabel", QRect(110, 50, 61, 21), QSize(0, 0), 10, true, "请求参数:"},
    {"replabel", "QLabel", QRect(130, 230, 54, 21), QSize(0, 0), 10, true, "返回值:"},
    {"cancelButton", "QPushButton", QRect(300, 420, 80, 28), QSize(80, 28), 10, true, "取消"},
    {"submitButton", "QPushButton", QRect(440, 420, 80, 28), QSize(80, 28), 10, true, "确定"},
    {"fileButton", "QPushButton", QRect(170, 420, 80, 28), QSize(80, 28), 10, false, "选择图片"},
    {"imgLabel", "QLabel", QRect(180, 460, 341, 151), QSize(0, 0), 12, false, ""},
    {"typeLabel", "QLabel", QRect(110, 10, 61, 20), QSize(0, 0), 10, true, "数据接口:"},
    {"requestPlainTextEdit", "QPlainTextEdit", QRect(180, 50, 361, 161), QSize(0, 0), 10, false,
     nullptr},
    {"responsePlainTextEdit", "QPlainTextEdit", QRect(180, 230, 361, 161), QSize(0, 0), 12, false,
     nullptr},
};

const char *const kChooserItems[8] = {"初始化",   "车辆入场", "离场前",   "离场后",
                                      "订单查询", "附件上传", "订单补缴", "免费车辆"};

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
