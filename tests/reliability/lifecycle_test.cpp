// Lifetimes under stress: init and unInit over and over while commands arrive,
// registrations changed while a command is being dispatched, the library torn
// down in the middle of a dispatch, and requests on several threads while the
// settings change under them. No crash, no sanitizer report, and every
// callback object is deleted exactly once.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <iostream>
#include <thread>
#include <vector>

#include "command_channel.h"
#include "reliability_support.h"
#include "request_transport.h"
#include "sdk_state.h"

using namespace reltest;

namespace {

// Publishes numbered commands until stopped (bounded in count).
class CommandStream {
public:
    CommandStream(int port, std::string topic) : sender_(port), topic_(std::move(topic)) {
        thread_ = std::thread([this] {
            for (int i = 0; i < 20000 && !stop_; ++i)
                if (sender_.publish(topic_, prePay("s" + std::to_string(i)))) ++published_;
        });
    }
    ~CommandStream() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int published() const { return published_; }

private:
    rig::CliPublisher sender_;
    std::string topic_;
    std::atomic<bool> stop_{false};
    std::atomic<int> published_{0};
    std::thread thread_;
};

class Lifecycle : public ::testing::Test, protected BrokerSite {
protected:
    Lifecycle() : BrokerSite("life") {}
    const rig::OutputCapture& out = console.out();
    CommandLog census;

    void SetUp() override {
        settings.receiveTimeoutMs = 20;
        zolvo_sdk::CommandChannel::instance().setReconnectWait(50ms);
    }
};

std::atomic<int> g_payloads{0};
void countPayload(const char*) { ++g_payloads; }

TEST_F(Lifecycle, TwoHundredUnInitInitCyclesWhileCommandsArrive) {
    constexpr int kCycles = 200;
    ZOLVOSDK::setCommandInterface(new RecordingCommands(census));
    CommandStream stream(broker.port(), settings.topic);
    int swaps = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const std::string reply = initAgainst(platform.baseUrl());
        ASSERT_TRUE(succeeded(reply)) << "cycle " << cycle << ": " << reply;
        if (cycle % 10 == 5) {
            // While the channel dispatches to the object it was handed, the
            // host registers a function (the object goes) and then a new object.
            const int before = census.commands;
            rig::waitUntil([&] { return census.commands > before; }, 2s);
            ZOLVOSDK::setCallBackFun(&countPayload);
            ZOLVOSDK::setCommandInterface(new RecordingCommands(census));
            ++swaps;
        } else if (cycle % 4 == 0) {
            // Sometimes let the channel connect before it is stopped again.
            rig::waitUntil([&] { return subscriptions() > 0; }, 2s);
        }
        ZOLVOSDK::unInit();
    }
    stream.stop();
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    EXPECT_GT(census.commands, 0);
    { ZOLVOSDK teardown; }
    EXPECT_TRUE(census.eachDeletedOnce());
    EXPECT_EQ(census.constructed, swaps + 1);
    EXPECT_EQ(census.callsAfterDelete, 0);
    console.note("figures: init/unInit cycles " + std::to_string(kCycles) +
                 ", registration swaps " + std::to_string(swaps) + ", commands published " +
                 std::to_string(stream.published()) + ", dispatched to objects " +
                 std::to_string(census.commands) + ", channel subscriptions " +
                 std::to_string(subscriptions()));
}

TEST_F(Lifecycle, DestructorWhileACommandIsDispatched) {
    auto* object = new rig::BlockingCommands(census);
    ZOLVOSDK::setCommandInterface(object);
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    ASSERT_TRUE(rig::waitUntil([&] { return subscriptions() == 1; }, 10s));
    rig::CliPublisher sender(broker.port());
    ASSERT_TRUE(sender.publish(settings.topic, prePay("held")));
    ASSERT_TRUE(sender.publish(settings.topic, prePay("queued")));
    ASSERT_TRUE(object->waitInside());

    // Released once the teardown's stop request stands, while it waits.
    std::thread releaser([object] {
        rig::waitUntil([] { return zolvo_sdk::CommandChannel::instance().stopPending(); }, 10s);
        object->release();
    });
    { ZOLVOSDK teardown; }  // waits for the running call, which then ends the channel
    releaser.join();
    EXPECT_TRUE(rig::BlockingCommands::returned);
    ASSERT_TRUE(rig::waitUntil([&] { return census.deletedCount() == 1; }, 5s));
    EXPECT_TRUE(census.eachDeletedOnce());
    EXPECT_EQ(census.callsAfterDelete, 0);
    EXPECT_TRUE(rig::waitUntil(
        [] { return zolvo_sdk::CommandChannel::instance().threadCount() == 0; }, 5s));
    EXPECT_TRUE(zolvo_sdk::sdkState().tornDown());
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client(), nullptr);
    // Nothing is left to use: every function refuses, no command is dispatched.
    EXPECT_FALSE(succeeded(ZOLVOSDK::queryOrder("late")));
    ASSERT_TRUE(sender.publish(settings.topic, prePay("after")));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(census.commands, 1);
}

// A request as the transport would have got it, kept by the in-process transport.
struct Prepared {
    std::string url;
    std::string form;
};

// The in-process transport: each request thread keeps what it sends in its own
// list (no lock) and, after a pause as short as a loopback exchange, gets the
// platform's success reply.
thread_local std::vector<Prepared>* t_prepared = nullptr;
std::string keepPrepared(const zolvo_sdk::PreparedRequest& request) {
    if (t_prepared != nullptr) t_prepared->push_back({request.url, request.body});
    std::this_thread::sleep_for(200us);
    return "{\"code\":\"0000\",\"msg\":\"ok\"}";
}

// Four host threads calling a mix of request functions (form, converted form,
// multipart with an image, upload) until stopped. Every result must be the
// platform's success reply or the not-initialised refusal.
class RequestThreads {
public:
    explicit RequestThreads(std::string image) : image_(std::move(image)) {
        for (int t = 0; t < 4; ++t) threads_.emplace_back([this, t] { run(t); });
    }
    ~RequestThreads() { stop(); }
    void stop() {
        stop_ = true;
        for (std::thread& thread : threads_)
            if (thread.joinable()) thread.join();
    }
    int answered() const { return answered_; }
    int refused() const { return refused_; }
    // Results that are neither (at most a few kept).
    std::vector<std::string> strange() {
        std::lock_guard<std::mutex> lock(mutex_);
        return strange_;
    }
    // What the in-process transport got from every thread (after stop()).
    std::vector<Prepared> prepared() const {
        std::vector<Prepared> all;
        for (const auto& list : prepared_) all.insert(all.end(), list.begin(), list.end());
        return all;
    }

private:
    void run(int t) {
        t_prepared = &prepared_[t];
        const std::string plate = "ABC1234", in = "20180831123056", out = "20180831133056";
        for (int i = 0; !stop_; ++i) {
            const std::string id = "T" + std::to_string(t) + "-" + std::to_string(i);
            std::string result;
            switch ((i + t) % 6) {
                case 0:
                    result = ZOLVOSDK::queryOrder(id);
                    break;
                case 1:
                    result = ZOLVOSDK::pushOrder(id, plate, in, "IN9", out, "OUT9", 3600, 500);
                    break;
                case 2:
                    result = ZOLVOSDK::entry(plate, in, id, image_, 0, "");
                    break;
                case 3:
                    result = ZOLVOSDK::freeCar(plate, in, out, "", i % 2 == 0);
                    break;
                case 4:
                    result = ZOLVOSDK::suppOrder(plate, in, out, id, 3600, 500);
                    break;
                default:
                    result = ZOLVOSDK::uploadFile(id, image_, "entry");
                    break;
            }
            if (succeeded(result)) {
                ++answered_;
            } else if (result.find("{\"code\":\"1010\"") == 0) {
                ++refused_;
            } else {
                std::lock_guard<std::mutex> lock(mutex_);
                if (strange_.size() < 5) strange_.push_back(result);
            }
        }
        t_prepared = nullptr;
    }

    const std::string image_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0}, refused_{0};
    std::mutex mutex_;
    std::vector<std::string> strange_;
    std::vector<Prepared> prepared_[4];
    std::vector<std::thread> threads_;
};

// One car park's identity: its codes, key and platform, and the broker
// settings that platform's init reply names.
struct Site {
    rig::PlatformServer& server;
    std::string park, sys, lane, key;
    InitSettings broker;

    std::string init() const {
        return ZOLVOSDK::init("ZOLVO-TEST", park, sys, lane, key, server.baseUrl());
    }
    // Whether a signed form text sent to `path` carries this site's stored
    // codes under the keys the road fills from them, and this site's signature.
    // (The values are ASCII: the UTF-8 conversion changes no byte.)
    bool carries(const std::string& path, const std::string& form) const {
        bool whole = rig::checkSign(form, key);
        for (const auto& pair : rig::parseForm(form)) {
            const std::string& k = pair.first;
            if (k == "parkCode") whole = whole && pair.second == park;
            if (k == "sysCode") whole = whole && pair.second == sys;
            if (k == "channel" || k == "outChannel") whole = whole && pair.second == lane;
            if (k == "inChannel" && path == "/api/car/enter.do")
                whole = whole && pair.second == sys;
        }
        return whole;
    }
    // Checks every request the platform got but init's own; returns how many.
    size_t checkRequests(std::vector<std::string>& mismatches) const {
        size_t checked = 0;
        for (const rig::RecordedRequest& r : server.requests()) {
            if (r.path == "/api/client/init.do") continue;
            ++checked;
            const std::string form = wireForm(r);
            if (!carries(r.path, form) && mismatches.size() < 5)
                mismatches.push_back(r.path + " " + form);
        }
        return checked;
    }
};

// Two car parks on two platforms, with different codes, keys and broker settings.
class SettingsChange : public Lifecycle {
protected:
    rig::PlatformServer otherPlatform;
    Site sites[2] = {{platform, "201808150001", "0001", "A4", "Rk7-merchant-9QzX", settings},
                     {otherPlatform, "201911270002", "0002", "B7", "other-Key-51xT", settings}};
    rig::TempDir dir;
    const std::string image = dir.write("car.jpg", std::string("\xFF\xD8\xFF\xE0\0JFIF", 9));

    void SetUp() override {
        Lifecycle::SetUp();
        for (int i = 0; i < 2; ++i) {
            InitSettings& b = sites[i].broker;
            b.topic = settings.topic + (i == 0 ? "/a" : "/b");
            b.clientId = std::string(i == 0 ? "a-" : "b-") + uniqueTopic("client").substr(4);
            b.receiveTimeoutMs = i == 0 ? 20 : 30;
            b.sslTlsVersion = i == 0 ? "TLSv1.2" : "TLSv1.3";
            sites[i].server.setHandler("/api/client/init.do",
                                       [body = initReply(b)](const rig::RecordedRequest&) {
                                           rig::Reply reply;
                                           reply.body = body;
                                           return reply;
                                       });
        }
        ZOLVOSDK::setCommandInterface(new RecordingCommands(census));
    }

    // A hundred times init with the two car parks' settings in turn, and
    // unInit; in between, mostly, `letRequestsGo` while initialised.
    void cycle(const std::function<void(const Site&)>& letRequestsGo) {
        for (int cycle = 0; cycle < 100; ++cycle) {
            const Site& site = sites[cycle % 2];
            const std::string reply = site.init();
            EXPECT_TRUE(succeeded(reply)) << "cycle " << cycle << ": " << reply;
            if (!succeeded(reply)) return;
            if (cycle % 3 != 0) letRequestsGo(site);
            ZOLVOSDK::unInit();
        }
    }

    // The channel, started by each init, took its settings from one of them.
    void expectChannelSettingsWhole() {
        ASSERT_TRUE(rig::waitUntil(
            [] { return zolvo_sdk::CommandChannel::instance().threadCount() == 0; }, 5s));
        ASSERT_NE(zolvo_sdk::CommandChannel::instance().client(), nullptr);
        const zolvo_sdk::MqttCommandClient& client =
            *zolvo_sdk::CommandChannel::instance().client();
        const InitSettings& b =
            client.topic == sites[0].broker.topic ? sites[0].broker : sites[1].broker;
        EXPECT_EQ(client.topic, b.topic);
        EXPECT_EQ(client.clientId, b.clientId);
        EXPECT_EQ(client.timeout, b.receiveTimeoutMs);
        EXPECT_EQ(client.sslTlsVersion, b.sslTlsVersion);
    }
};

// Init and unInit a hundred times, with the two car parks' settings in turn,
// while four host threads send requests all the time (as a host's MQTT
// callbacks do): each request that reaches a platform carries one init's
// settings whole, never a mix.
TEST_F(SettingsChange, RequestsOnTheWireCarryOneInitsSettings) {
    RequestThreads requests(image);
    cycle([](const Site& site) {
        const size_t before = site.server.requestCount();
        rig::waitUntil([&] { return site.server.requestCount() >= before + 5; }, 2s);
    });
    requests.stop();

    EXPECT_EQ(requests.strange(), std::vector<std::string>());
    EXPECT_GT(requests.answered(), 0);
    EXPECT_GT(requests.refused(), 0);
    for (const Site& site : sites) {
        std::vector<std::string> mismatches;
        EXPECT_GT(site.checkRequests(mismatches), 0u) << site.server.baseUrl();
        EXPECT_EQ(mismatches, std::vector<std::string>()) << "settings of " << site.park;
    }
    expectChannelSettingsWhole();
    console.note("figures: init/unInit cycles 100, requests answered " +
                 std::to_string(requests.answered()) + ", refused while not initialised " +
                 std::to_string(requests.refused()));
}

// The same with the requests kept in process instead of sent. Socket traffic
// orders the threads for the race detector (it treats every socket as one
// synchronisation object), so only here does ThreadSanitizer see every
// access to the settings that the request threads and init do unordered.
TEST_F(SettingsChange, PreparedRequestsCarryOneInitsSettings) {
    zolvo_sdk::setRequestTransportForTesting(&keepPrepared);
    RequestThreads requests(image);
    // A pause, not a wait for the request threads' progress: that would order
    // them with init for the race detector.
    cycle([](const Site&) { std::this_thread::sleep_for(2ms); });
    requests.stop();
    zolvo_sdk::setRequestTransportForTesting(nullptr);

    EXPECT_EQ(requests.strange(), std::vector<std::string>());
    EXPECT_GT(requests.refused(), 0);
    const std::vector<Prepared> prepared = requests.prepared();
    EXPECT_EQ(prepared.size(), static_cast<size_t>(requests.answered()));
    size_t perSite[2] = {0, 0};
    std::vector<std::string> mismatches;
    for (const Prepared& p : prepared) {
        bool whole = false;
        for (int i = 0; i < 2; ++i) {
            const std::string base = sites[i].server.baseUrl();
            if (p.url.compare(0, base.size(), base) != 0) continue;
            whole = sites[i].carries(p.url.substr(base.size()), p.form);
            if (whole) ++perSite[i];
        }
        if (!whole && mismatches.size() < 5) mismatches.push_back(p.url + " " + p.form);
    }
    EXPECT_EQ(mismatches, std::vector<std::string>());
    EXPECT_GT(perSite[0], 0u);
    EXPECT_GT(perSite[1], 0u);
    expectChannelSettingsWhole();
}

// The library torn down while four host threads send requests: the requests
// in flight end normally, and every later one is refused.
TEST_F(SettingsChange, TeardownWhileRequestsRun) {
    const Site& site = sites[0];
    RequestThreads requests(image);
    ASSERT_TRUE(succeeded(site.init()));
    ASSERT_TRUE(platform.waitForRequests(20, 10s));
    { ZOLVOSDK teardown; }
    const int refusedAtTeardown = requests.refused();
    // At most the requests in flight at the teardown (one per thread) still arrive.
    const size_t settled = platform.requestCount();
    std::this_thread::sleep_for(300ms);
    requests.stop();
    EXPECT_EQ(requests.strange(), std::vector<std::string>());
    EXPECT_GT(requests.refused(), refusedAtTeardown);
    EXPECT_LE(platform.requestCount(), settled + 4);
    std::vector<std::string> mismatches;
    EXPECT_GT(site.checkRequests(mismatches), 0u);
    EXPECT_EQ(mismatches, std::vector<std::string>());
    EXPECT_TRUE(census.eachDeletedOnce());
}

}  // namespace
