// The platform's endpoint paths and the default base address, and the result
// codes and messages the library makes up itself; with them the "present" test
// that init, the request functions and the transport apply to their texts.
#ifndef ZOLVO_SDK_ENDPOINTS_AND_RESULTS_H
#define ZOLVO_SDK_ENDPOINTS_AND_RESULTS_H

#include <string>

namespace zolvo_sdk {

// A text is present when it holds at least one byte and its first byte is not NUL.
inline bool isPresent(const std::string& text) { return !text.empty() && text[0] != '\0'; }

// The platform's address when the host gives none. The .invalid name never
// resolves: hosts pass the platform's real address as init's sixth argument.
constexpr const char* kDefaultBaseUrl = "https://platform.zolvo.invalid";

// Endpoint paths; a request address is the base address followed directly by one.
namespace endpoint {
constexpr const char* kInit = "/api/client/init.do";
constexpr const char* kEnter = "/api/car/enter.do";
constexpr const char* kOut = "/api/car/out.do";
constexpr const char* kLeave = "/api/car/leave.do";
constexpr const char* kFreeCar = "/api/free/car/push.do";
constexpr const char* kOrderReceive = "/api/order/receive.do";
constexpr const char* kOrderQuery = "/api/order/query.do";
constexpr const char* kQrOrderReceive = "/api/qr/order/receive.do";
constexpr const char* kOrderSupp = "/api/order/supp.do";
constexpr const char* kFileUpload = "/api/file/upload.do";
}  // namespace endpoint

// The base address init uses: the given one when present, else the default.
inline std::string baseUrlOrDefault(const std::string& given) {
    return isPresent(given) ? given : std::string(kDefaultBaseUrl);
}

// Result codes and messages the library makes up itself. Messages are written
// readable here (UTF-8) and returned as GBK bytes through resultText().
namespace code {
constexpr const char* kSuccess = "0000";
constexpr const char* kArgument = "1000";
constexpr const char* kNetwork = "1001";
constexpr const char* kState = "1010";
constexpr const char* kInitEmptyReply = "2000";
constexpr const char* kInitBadReply = "2001";
}  // namespace code

namespace msg {
constexpr const char* kNotInitialized = "SDK未初始化!";
constexpr const char* kAlreadyInitialized = "SDK已经初始化,请勿重复操作!";
constexpr const char* kNoManufacturer = "参数异常!未知的厂商编号!";
constexpr const char* kNoParkCode = "参数异常!未知的车场编号!";
constexpr const char* kNoSysCode = "参数异常!未知的收费系统编号!";
constexpr const char* kNoChannelNumber = "参数异常!未知的通道编号!";
constexpr const char* kNoKey = "参数异常!未知的秘钥编号!";
constexpr const char* kNoCallback = "请设置回调方法!setCommandInterface() or setCallBackFun()";
constexpr const char* kInitEmptyReply = "初始化失败,未知的请求!";
constexpr const char* kInitBadReply = "初始化失败,未知的返回数据!";
constexpr const char* kInitSuccess = "初始化成功!";
// Request arguments
constexpr const char* kNoPlate = "参数异常!未知的车牌号!";
constexpr const char* kNoInTime = "参数异常!未知的入场时间!";
constexpr const char* kNoOutTime = "参数异常!未知的出场时间!";
constexpr const char* kNoOrderId = "参数异常!未知的订单号!";
constexpr const char* kNoOrderSerial = "参数异常!未知的订单号流水号，长度在8-32位!";
constexpr const char* kNoScanNumber = "参数异常!扫描编号不能为空!";
constexpr const char* kNoDuration = "参数异常!未知的停车时长!";
constexpr const char* kNoAmount = "参数异常!未知的金额!";
constexpr const char* kNoInChannel = "参数异常!未知的入场通道!";
constexpr const char* kNoOutChannel = "参数异常!未知的出场通道!";
constexpr const char* kNoStartTime = "参数异常!未知的补缴计费开始时间!";
constexpr const char* kNoEndTime = "参数异常!未知的补缴计费结束时间!";
constexpr const char* kNoFinishTime = "参数异常!未知的订单结束时间!";
constexpr const char* kRemarksTooLong = "参数异常!补缴备注字符不能超过200长度!";
constexpr const char* kNoScanCode = "参数异常!请传入扫码编号!";
constexpr const char* kNoSuppOrderSerial = "参数异常!未知的补缴订单流水号!";
constexpr const char* kNoAttachment = "上传的附件为空!";
constexpr const char* kNoAttType = "附件类型为空!";
// Transport
constexpr const char* kConnectionError = "连接异常!";
constexpr const char* kUnknownFile = "未知的文件!";
constexpr const char* kFileError = "文件异常!";
constexpr const char* kUploadFailed = "上传失败!";
constexpr const char* kNetworkError = "网络异常!";
}  // namespace msg

}  // namespace zolvo_sdk

#endif
