// Command dispatch: N prePay commands published to the broker (by bench_publisher,
// a process of its own), timed from the first publish until the last one reaches
// a CommandInterface override. Two receivers, one per run:
//   --mode lib  the library's channel (init against the platform, which names the broker)
//   --mode raw  a raw Paho MQTTClient_receive loop with the same client settings
//               that does the host's share of the work: copy the payload, parse it
//               with jsoncpp, read the members and call the same override. It
//               leaves out only what the library adds (its log line, its locks).
//   bench_dispatch --mode lib|raw --uri tcp://127.0.0.1:P --topic T --url http://127.0.0.1:Q
//                  [--count 20000] [--pace-us 0] [--out FILE] [--label NAME]
#include <MQTTClient.h>
#include <fcntl.h>
#include <json/json.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "zolvo_sdk/zolvo_sdk.h"

extern char** environ;

namespace {

// Records, for each numbered command, the time its call arrived.
class CountingInterface : public zolvo_sdk::CommandInterface {
public:
    explicit CountingInterface(size_t expected) : arrivals_(expected, 0), stamps_(expected, 0) {}

    void queryOrder(std::string, std::string orderId, std::string) override {
        const int64_t now = bench::nowNs();
        const size_t dash = orderId.find('-');
        if (dash == std::string::npos) return;  // a probe
        const unsigned long seq = std::strtoul(orderId.c_str(), nullptr, 10);
        if (seq >= arrivals_.size() || arrivals_[seq] != 0) return;
        arrivals_[seq] = now;
        stamps_[seq] = std::strtoll(orderId.c_str() + dash + 1, nullptr, 10);
        received_.fetch_add(1, std::memory_order_release);
    }

    size_t received() const { return received_.load(std::memory_order_acquire); }
    const std::vector<int64_t>& arrivals() const { return arrivals_; }
    const std::vector<int64_t>& stamps() const { return stamps_; }

private:
    std::vector<int64_t> arrivals_;
    std::vector<int64_t> stamps_;
    std::atomic<size_t> received_{0};
};

pid_t spawnPublisher(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Sends fd 1 into a pipe until the channel writes its subscription line, then
// to /dev/null (the timed part writes one line per message).
class SubscriptionWatch {
public:
    SubscriptionWatch() {
        std::fflush(stdout);
        if (pipe(pipe_) != 0) std::abort();
        dup2(pipe_[1], 1);
        reader_ = std::thread([this] {
            std::string seen;
            char buf[4096];
            ssize_t n;
            while ((n = read(pipe_[0], buf, sizeof buf)) > 0) {
                seen.append(buf, static_cast<size_t>(n));
                if (seen.find("sub topic: ") != std::string::npos) subscribed_ = true;
                if (seen.size() > 65536) seen.erase(0, seen.size() - 1024);
            }
        });
    }
    bool wait(std::chrono::milliseconds limit) {
        return waitFor([this] { return subscribed_.load(); }, limit);
    }
    // From here on the channel's lines go to /dev/null.
    void discard() {
        std::fflush(stdout);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        close(devNull);
        close(pipe_[1]);
        reader_.join();
        close(pipe_[0]);
    }

private:
    int pipe_[2] = {-1, -1};
    std::atomic<bool> subscribed_{false};
    std::thread reader_;
};

// The raw receiver: the library's client settings, Paho directly.
class RawReceiver {
public:
    RawReceiver(const std::string& uri, const std::string& topic,
                zolvo_sdk::CommandInterface* object)
        : object_(object) {
        const std::string clientId = "zolvo-bench-raw-" + std::to_string(getpid());
        if (MQTTClient_create(&handle_, uri.c_str(), clientId.c_str(), MQTTCLIENT_PERSISTENCE_NONE,
                              nullptr) != MQTTCLIENT_SUCCESS)
            return;
        MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
        options.MQTTVersion = 0;
        options.connectTimeout = 3;
        options.keepAliveInterval = 20;
        options.cleansession = 1;
        options.username = "";
        options.password = "";
        if (MQTTClient_connect(handle_, &options) != MQTTCLIENT_SUCCESS) return;
        ok_ = MQTTClient_subscribe(handle_, topic.c_str(), 1) == MQTTCLIENT_SUCCESS;
    }
    ~RawReceiver() {
        if (handle_ != nullptr) {
            MQTTClient_disconnect(handle_, 1000);
            MQTTClient_destroy(&handle_);
        }
    }
    bool ok() const { return ok_; }

    void run(const std::atomic<bool>& stop) {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        char buffer[1024];
        while (!stop.load(std::memory_order_relaxed)) {
            char* topicName = nullptr;
            int topicLength = 0;
            MQTTClient_message* message = nullptr;
            const int rc = MQTTClient_receive(handle_, &topicName, &topicLength, &message, 200);
            if (rc != MQTTCLIENT_SUCCESS || message == nullptr) {
                if (message != nullptr) MQTTClient_freeMessage(&message);
                if (topicName != nullptr) MQTTClient_free(topicName);
                if (rc == MQTTCLIENT_DISCONNECTED) return;
                continue;
            }
            const size_t kept =
                std::min<size_t>(static_cast<size_t>(message->payloadlen), sizeof buffer - 1);
            std::memcpy(buffer, message->payload, kept);
            buffer[kept] = '\0';
            MQTTClient_freeMessage(&message);
            MQTTClient_free(topicName);
            Json::Value root;
            std::string errors;
            if (!reader->parse(buffer, buffer + kept, &root, &errors)) continue;
            if (root["command"].asString() == "prePay") {
                object_->queryOrder(root["parkCode"].asString(), root["orderId"].asString(),
                                    root["carNumber"].asString());
            }
        }
    }

private:
    MQTTClient handle_ = nullptr;
    zolvo_sdk::CommandInterface* object_;
    bool ok_ = false;
};

std::string publisherPath(const char* argv0) {
    std::string self = argv0;
    const size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) +
           "/bench_publisher";
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv);
    const std::string mode = args.text("mode");
    const std::string uri = args.text("uri");
    const std::string topic = args.text("topic");
    const std::string url = args.text("url");
    const long count = args.number("count", 20000);
    const long paceUs = args.number("pace-us", 0);
    const std::string out = args.text("out");
    const std::string label = args.text("label", mode);
    if ((mode != "lib" && mode != "raw") || uri.empty() || topic.empty() ||
        (mode == "lib" && url.empty())) {
        std::fprintf(stderr, "usage: bench_dispatch --mode lib|raw --uri URI --topic T --url BASE "
                             "[--count N] [--pace-us U] [--out FILE] [--label NAME]\n");
        return 2;
    }

    auto* counting = new CountingInterface(static_cast<size_t>(count));
    std::unique_ptr<RawReceiver> raw;
    std::atomic<bool> stop{false};
    std::thread rawThread;
    if (mode == "lib") {
        SubscriptionWatch watch;
        zolvo_sdk::ZOLVOSDK::setCommandInterface(counting);  // the library owns it now
        const std::string reply = zolvo_sdk::ZOLVOSDK::init(
            "M01", "201808150001", "0001", "A4", "1a2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d", url);
        const bool up =
            reply.find("\"0000\"") != std::string::npos && watch.wait(std::chrono::seconds(10));
        watch.discard();
        if (!up) {
            std::fprintf(stderr, "library channel not subscribed: %s\n", reply.c_str());
            return 1;
        }
    } else {
        raw.reset(new RawReceiver(uri, topic, counting));
        if (!raw->ok()) {
            std::fprintf(stderr, "raw receiver not subscribed\n");
            return 1;
        }
        rawThread = std::thread([&] { raw->run(stop); });
    }

    const pid_t publisher = spawnPublisher(
        publisherPath(argv[0]), {"--uri", uri, "--topic", topic, "--count", std::to_string(count),
                                 "--qos", "1", "--pace-us", std::to_string(paceUs)});
    if (publisher < 0) {
        std::fprintf(stderr, "cannot start bench_publisher\n");
        return 1;
    }
    const bool all = waitFor([&] { return counting->received() >= static_cast<size_t>(count); },
                             std::chrono::seconds(120));
    int status = 0;
    waitpid(publisher, &status, 0);

    const size_t received = counting->received();
    int64_t first = INT64_MAX, last = 0;
    std::vector<double> latencies;
    latencies.reserve(received);
    for (size_t i = 0; i < counting->arrivals().size(); ++i) {
        if (counting->arrivals()[i] == 0) continue;
        first = std::min(first, counting->stamps()[i]);
        last = std::max(last, counting->arrivals()[i]);
        latencies.push_back((counting->arrivals()[i] - counting->stamps()[i]) / 1000.0);
    }
    const double seconds = received > 0 ? (last - first) / 1e9 : 0;
    bench::report(out, label + "_received", static_cast<double>(received));
    bench::report(out, label + "_seconds", seconds);
    bench::report(out, label + "_per_second", seconds > 0 ? received / seconds : 0);
    bench::report(out, label + "_latency_median_us", bench::median(latencies));

    if (mode == "lib") {
        zolvo_sdk::ZOLVOSDK::unInit();
    } else {
        stop = true;
        rawThread.join();
        raw.reset();
        delete counting;
    }
    return all && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
