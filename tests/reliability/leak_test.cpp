// Leak check of a host that runs every function: registrations, init, the
// nine requests (with and without image files), commands through the channel,
// refusals, unInit, a second init, and the teardown. In the AddressSanitizer
// build LeakSanitizer then finds nothing lost but the one object the ownership
// rules keep on purpose: an object replaced by another registration stays the
// host's, and this host drops it.
#include <gtest/gtest.h>

#include "reliability_support.h"

#if defined(__SANITIZE_ADDRESS__)
#  include <sanitizer/lsan_interface.h>
#  define ZOLVO_LEAK_CHECK 1
#endif

using namespace reltest;

namespace {

void runEveryRequest(const std::string& image) {
    const std::string t = "20240101120000";
    ZOLVOSDK::entry("粤B12345", t, "L1", image, 2, "S1");
    ZOLVOSDK::entry("粤B12345", t, "L1", "", 0, "");
    ZOLVOSDK::leave("粤B12345", t, "L1", 60, 100, image, 2, "S1");
    ZOLVOSDK::leave("粤B12345", t, "L1", 60, 100, "/nonexistent/plate.jpg", 1, "");
    ZOLVOSDK::finish("L1", "粤B12345", t);
    ZOLVOSDK::freeCar("粤B12345", t, t, "备注", true);
    ZOLVOSDK::pushOrder("L1", "粤B12345", t, "IN", t, "OUT", 60, 100);
    ZOLVOSDK::queryOrder("L1");
    ZOLVOSDK::scanningOrder("S1", "L1", "粤B12345", t, "IN", t, "OUT", 60, 100);
    ZOLVOSDK::suppOrder("粤B12345", t, t, "L1", 60, 100);
    ZOLVOSDK::uploadFile("L1", image, "1");
    ZOLVOSDK::uploadFile("L1", "/nonexistent/plate.jpg", "1");
    // Refusals.
    ZOLVOSDK::leave("", t, "L1", 0, 0, "", 0, "");
    ZOLVOSDK::pushOrder("", "", "", "", "", "", 0, 0);
}

TEST(Leak, HostRunningEveryFunctionLosesOnlyTheReplacedObject) {
    rig::TempDir dir;
    const std::string image = dir.write("plate.jpg", std::string(4096, '\x11'));
    BrokerSite site("leak");
    const rig::OutputCapture& out = site.console.out();
    CommandLog census;

    runEveryRequest(image);  // before init: refused
    auto* replaced = new RecordingCommands(census);
    ZOLVOSDK::setCommandInterface(replaced);
    auto* kept = new RecordingCommands(census);
    ZOLVOSDK::setCommandInterface(kept);  // `replaced` is the host's again; it drops it
#ifdef ZOLVO_LEAK_CHECK
    __lsan_ignore_object(replaced);  // the one loss the ownership rules allow
#endif
    replaced = nullptr;

    ASSERT_TRUE(succeeded(initAgainst(site.platform.baseUrl())));
    ASSERT_TRUE(out.waitFor("sub topic: ", 10s));
    rig::CliPublisher sender(site.broker.port());
    ASSERT_TRUE(sender.publish(site.settings.topic, prePay("one")));
    ASSERT_TRUE(sender.publish(site.settings.topic, "{\"command\":\"qrCodePay\",\"tempCar\":1}"));
    ASSERT_TRUE(sender.publish(site.settings.topic, "not json"));
    ASSERT_TRUE(rig::waitUntil([&] { return census.commands >= 1; }, 10s));
    runEveryRequest(image);
    ZOLVOSDK::init("M", "P", "S", "C", "K", site.platform.baseUrl());  // already initialised

    ZOLVOSDK::unInit();
    ZOLVOSDK::setCallBackFun(&ignorePayload);  // `kept` goes here
    ASSERT_TRUE(succeeded(initAgainst(site.platform.baseUrl())));
    ASSERT_TRUE(rig::waitUntil([&] { return occurrences(out.text(), "sub topic: ") >= 2; }, 10s));
    ASSERT_TRUE(sender.publish(site.settings.topic, prePay("two")));
    ASSERT_TRUE(
        rig::waitUntil([&] { return occurrences(out.text(), "receive Message") >= 4; }, 10s));
    runEveryRequest(image);
    ZOLVOSDK::setCommandInterface(new RecordingCommands(census));
    { ZOLVOSDK teardown; }
    runEveryRequest(image);  // after teardown: refused, nothing made

    // Of the three objects, only the replaced one (number 1) was never deleted.
    EXPECT_EQ(census.constructed, 3);
    {
        std::lock_guard<std::mutex> lock(census.mutex);
        EXPECT_EQ(std::multiset<int>(census.deletions.begin(), census.deletions.end()),
                  (std::multiset<int>{2, 3}));
    }
    EXPECT_EQ(census.callsAfterDelete, 0);

#ifdef ZOLVO_LEAK_CHECK
    // Everything else is freed or still reachable from the library's globals.
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "see the leak report above";
#else
    std::cerr << "leak check runs in the AddressSanitizer build only" << std::endl;
#endif
}

}  // namespace
