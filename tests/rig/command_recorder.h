// The tests' one recording callback object: every call it gets, with its
// arguments, goes into a log shared by the objects of one test, which also
// counts constructions, deletions (by object number) and calls made on an
// object already deleted; and the end marker of a stream of commands.
#ifndef ZOLVO_TESTS_RIG_COMMAND_RECORDER_H
#define ZOLVO_TESTS_RIG_COMMAND_RECORDER_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "rig.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace rig {

struct CommandLog {
    std::mutex mutex;
    std::vector<std::string> list;  // "function|arg|arg…", in call order
    std::multiset<std::string> orderIds;
    std::vector<int> deletions;  // object numbers, in deletion order
    std::atomic<int> constructed{0};
    std::atomic<int> commands{0};
    std::atomic<int> callsAfterDelete{0};

    void add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        list.push_back(call);
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return list;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return list.size();
    }
    int deletedCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<int>(deletions.size());
    }
    // Whether a call with that order id was logged.
    bool has(const std::string& orderId) {
        std::lock_guard<std::mutex> lock(mutex);
        return orderIds.count(orderId) > 0;
    }
    // Every object made was deleted exactly once.
    ::testing::AssertionResult eachDeletedOnce() {
        std::lock_guard<std::mutex> lock(mutex);
        std::set<int> seen;
        for (int id : deletions)
            if (!seen.insert(id).second)
                return ::testing::AssertionFailure() << "object " << id << " deleted twice";
        if (static_cast<int>(seen.size()) != constructed)
            return ::testing::AssertionFailure()
                   << constructed << " objects made, " << seen.size() << " deleted";
        return ::testing::AssertionSuccess();
    }
};

// The four commands, each with the call it makes of a recording object (the
// function's name and its arguments, joined with "|"). Texts pass as the
// payload's bytes: the GBK plate of payNotice stays GBK.
struct CommandCase {
    const char* payload;
    const char* call;
};
const CommandCase kFourCommands[] = {
    {R"({"command":"prePay","orderId":"O1","carNumber":"C1","parkCode":"P1"})",
     "queryOrder|P1|O1|C1"},
    {R"({"command":"qrCodePay","parkCode":"P2","sysCode":"S2","channel":"CH2",)"
     R"("scanNumber":"SN2","orderId":"O2","carNumber":"C2","tempCar":1})",
     "scanQrCodePay|P2|S2|CH2|SN2|O2|C2|1"},
    {R"({"parkCode":"P3","sysCode":"S3","channel":"CH3","carNumber":"C3",)"
     R"("scanNumber":"SN3","command":"qrCodeEntry"})",
     "scanQrEntry|P3|S3|CH3|C3|SN3"},
    {"{\"command\":\"payNotice\",\"orderId\":\"O4\",\"carNumber\":\"\xBE\xA9"
     "A12345\",\"payStatus\":1,\"payAmount\":1500,\"duration\":3600,"
     "\"inTime\":\"20180831123056\",\"outTime\":\"20180831133056\","
     "\"payTime\":\"20180831133000\",\"payMethod\":2,\"parkCode\":\"P4\",\"extra\":\"ignored\"}",
     "noticeOfPaymentResult|O4|\xBE\xA9"
     "A12345|1|1500|3600|20180831123056|20180831133056|20180831133000|2|P4"},
};

inline std::string joinCall(const std::vector<std::string>& parts) {
    std::string s;
    for (size_t i = 0; i < parts.size(); ++i) s += (i ? "|" : "") + parts[i];
    return s;
}

// The command that ends a test's stream: once the object logged it, every
// command published before it on the same topic was handled. Publishes
// {"command":"prePay","orderId":"END"} and waits (10 s at most) until it is logged.
inline ::testing::AssertionResult endMarkerArrives(CommandLog& log, CliPublisher& sender,
                                                   const std::string& topic) {
    if (!sender.publish(topic, R"({"command":"prePay","orderId":"END"})"))
        return ::testing::AssertionFailure() << "the end marker was not published";
    if (!waitUntil([&] { return log.has("END"); }, std::chrono::seconds(10)))
        return ::testing::AssertionFailure() << "no end marker: " << joinCall(log.snapshot());
    return ::testing::AssertionSuccess();
}

class RecordingCommands : public zolvo_sdk::CommandInterface {
public:
    explicit RecordingCommands(CommandLog& log) : log_(log), id_(++log.constructed) {}
    ~RecordingCommands() override {
        alive_ = false;
        std::lock_guard<std::mutex> lock(log_.mutex);
        log_.deletions.push_back(id_);
    }
    void queryOrder(std::string parkCode, std::string orderId, std::string carNumber) override {
        {
            std::lock_guard<std::mutex> lock(log_.mutex);
            log_.orderIds.insert(orderId);
        }
        note({"queryOrder", parkCode, orderId, carNumber});
        onQueryOrder(parkCode, orderId, carNumber);
    }
    void scanQrCodePay(std::string parkCode, std::string sysCode, std::string channel,
                       std::string scanNumber, std::string orderId, std::string carNumber,
                       int tempCar) override {
        note({"scanQrCodePay", parkCode, sysCode, channel, scanNumber, orderId, carNumber,
              std::to_string(tempCar)});
    }
    void scanQrEntry(std::string parkCode, std::string sysCode, std::string channel,
                     std::string carNumber, std::string scanNumber) override {
        note({"scanQrEntry", parkCode, sysCode, channel, carNumber, scanNumber});
    }
    void noticeOfPaymentResult(std::string orderId, std::string carNumber, int payStatus,
                               int payAmount, int duration, std::string inTime, std::string outTime,
                               std::string payTime, int payMethod, std::string parkCode) override {
        note({"noticeOfPaymentResult", orderId, carNumber, std::to_string(payStatus),
              std::to_string(payAmount), std::to_string(duration), inTime, outTime, payTime,
              std::to_string(payMethod), parkCode});
    }

    // Runs on the channel's thread inside each queryOrder call, after it is logged.
    std::function<void(const std::string&, const std::string&, const std::string&)> onQueryOrder =
        [](const std::string&, const std::string&, const std::string&) {};

protected:
    void note(const std::vector<std::string>& call) {
        if (!alive_) ++log_.callsAfterDelete;
        log_.add(joinCall(call));
        ++log_.commands;
    }
    CommandLog& log_;

private:
    const int id_;
    std::atomic<bool> alive_{true};
};

// Records a queryOrder call and then holds the channel's thread inside it
// until released (10 s at most).
class BlockingCommands : public RecordingCommands {
public:
    explicit BlockingCommands(CommandLog& log) : RecordingCommands(log) {
        onQueryOrder = [this](const std::string&, const std::string&, const std::string&) {
            std::unique_lock<std::mutex> lock(m_);
            inside_ = true;
            cv_.notify_all();
            cv_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
            returned = true;
        };
    }
    bool waitInside() {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [this] { return inside_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(m_);
        released_ = true;
        cv_.notify_all();
    }
    // Set when a held call has returned (the object may be gone by then).
    static inline std::atomic<bool> returned{false};

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool inside_ = false, released_ = false;
};

}  // namespace rig

#endif
