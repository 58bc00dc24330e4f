// Public interface of the ZOLVO parking-platform client library.
//
// A car park's charging software registers a callback (an object derived from
// zolvo_sdk::CommandInterface, or a plain CallBackFun), calls
// zolvo_sdk::ZOLVOSDK::init once, and then reports vehicles and orders with the
// static request functions. Every function returns a JSON text: either the
// platform's reply body as it arrived, or a {"code":"…","msg":"…"} text that the
// library makes up itself: "0000" a successful init; "1000" a refused argument,
// a missing or unreadable file, or a failed transfer; "1001" an upload with no
// transfer handle; "1010" a call in the wrong state; "2000"/"2001" an init whose
// reply was empty or not JSON of the expected shape. Arguments are passed in
// the ANSI code page (GBK) and sent as given, not URL-escaped: a value holding
// '&' or '=' breaks its request (the platform cannot verify its signature). The
// library's own messages are GBK bytes on every system. Command texts are the
// MQTT payload's bytes (the platform's encoding, UTF-8): convert one to the ANSI
// code page before passing it to a request function.
#ifndef ZOLVO_SDK_ZOLVO_SDK_H
#define ZOLVO_SDK_ZOLVO_SDK_H

#include <string>

#if defined(_WIN32) && defined(ZOLVO_SDK_STATIC)
#  define ZOLVO_SDK_API
#elif defined(_WIN32)
#  if defined(ZOLVO_SDK_BUILDING)
#    define ZOLVO_SDK_API __declspec(dllexport)
#  else
#    define ZOLVO_SDK_API __declspec(dllimport)
#  endif
#else
#  define ZOLVO_SDK_API __attribute__((visibility("default")))
#endif

// Receives each non-empty command payload, NUL-terminated, at most 1023 bytes,
// as the payload's bytes (UTF-8). The text is valid only during the call.
typedef void (*CallBackFun)(const char*);

namespace zolvo_sdk {

// Platform commands arrive on the library's MQTT thread as calls of these
// functions, their texts as the payload's bytes (UTF-8). The default bodies
// write one line to standard output. An object handed to
// ZOLVOSDK::setCommandInterface belongs to the library from then on.
class ZOLVO_SDK_API CommandInterface {
public:
    CommandInterface();
    virtual ~CommandInterface();

    // "prePay"
    virtual void queryOrder(std::string parkCode, std::string orderId, std::string carNumber);
    // "qrCodePay"
    virtual void scanQrCodePay(std::string parkCode, std::string sysCode, std::string channel,
                               std::string scanNumber, std::string orderId, std::string carNumber,
                               int tempCar);
    // "qrCodeEntry"
    virtual void scanQrEntry(std::string parkCode, std::string sysCode, std::string channel,
                             std::string carNumber, std::string scanNumber);
    // "payNotice"
    virtual void noticeOfPaymentResult(std::string orderId, std::string carNumber, int payStatus,
                                       int payAmount, int duration, std::string inTime,
                                       std::string outTime, std::string payTime, int payMethod,
                                       std::string parkCode);
};

// The request class. It has no data; destroying an object of it tears the
// library's global state down for the rest of the process.
class ZOLVO_SDK_API ZOLVOSDK {
public:
    ZOLVOSDK();
    // Stops the command channel as unInit does (and waits as long at most), then
    // deletes the channel's client and the registered callback object.
    ~ZOLVOSDK();
    ZOLVOSDK& operator=(const ZOLVOSDK&);

    // Registers the car park with the platform and starts the command channel.
    // `url` is the platform's base address: every request goes to `url` followed
    // by "/api/…". An empty `url` stands for a placeholder address that never
    // resolves. Returns "0000" without waiting for the broker; the channel never
    // uses TLS. A broker that cannot be reached (connect code -1), at init or
    // after a lost connection, is tried again every 60 s until unInit or the
    // destructor; a broker that refuses (connect return codes 1-5) ends the
    // channel until unInit and the next init.
    static std::string init(std::string manufacturer, std::string parkCode, std::string sysCode,
                            std::string channelNumber, std::string key, std::string url);
    // Leaves the initialised state and stops the command channel. It waits until
    // the channel's thread has disconnected from the broker and ended: the thread
    // sees the request within a fraction of a second, whatever the platform's
    // receive time-out, and the disconnect waits up to 10 s for the broker, so
    // unInit returns within about 11 s, at once when the broker answers. A
    // thread still inside a connect or a callback when that time is up ends on
    // its own later. Once unInit is called, no command reaches the callback
    // object or function any more (a callback already running finishes). Called
    // from inside a callback it does not wait: the channel stops once that
    // callback has returned. The registration and the broker settings stay for
    // the next init.
    static void unInit();
    // Registers a function in place of a callback object, which is deleted; a
    // running channel hands the following commands to the function. Null
    // changes nothing.
    static void setCallBackFun(CallBackFun fn);
    // Registers an object. A running channel keeps the registration it took at
    // its start: the object reaches it only with the next init.
    static void setCommandInterface(CommandInterface* object);

    // entry sends init's sysCode as inChannel.
    static std::string entry(std::string carNumber, std::string inTime, std::string orderId,
                             std::string filePath, int entryType, std::string scanNumber);
    static std::string leave(std::string carNumber, std::string outTime, std::string orderId,
                             long duration, int orderAmount, std::string filePath, int outType,
                             std::string scanNumber);
    static std::string finish(std::string orderId, std::string carNumber, std::string finishTime);
    static std::string freeCar(std::string carNumber, std::string startTime, std::string endTime,
                               std::string remarks, bool delFlag);

    // pushOrder and scanningOrder send init's channelNumber as outChannel, not
    // their outChannel argument (which must be present all the same).
    static std::string pushOrder(std::string orderId, std::string carNumber, std::string inTime,
                                 std::string inChannel, std::string outTime, std::string outChannel,
                                 long duration, int orderAmount);
    static std::string queryOrder(std::string orderId);
    static std::string scanningOrder(std::string scanNumber, std::string orderId,
                                     std::string carNumber, std::string inTime,
                                     std::string inChannel, std::string outTime,
                                     std::string outChannel, long duration, int orderAmount);
    static std::string suppOrder(std::string carNumber, std::string startTime, std::string endTime,
                                 std::string orderId, long duration, int orderAmount);
    static std::string uploadFile(std::string orderId, std::string filePath, std::string attType);
};

}  // namespace zolvo_sdk

#endif  // ZOLVO_SDK_ZOLVO_SDK_H
