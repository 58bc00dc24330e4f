// The Linux side of the demo's wine tests. Each TEST starts the rig's platform
// server (and mosquitto where commands are involved) on 127.0.0.1, runs the
// Windows demo host (demo_host.cpp) under wine against them with the ANSI code
// page 936, and checks here what the window showed and what the platform got.
//
// Environment (set by the ctest entries of the Windows build, tests/win32/CMakeLists.txt):
//   ZOLVO_WIN32_DEMO_HOST  the Windows program
//   ZOLVO_WIN32_DLLS       the library package's bin/ folder
//   ZOLVO_WIN32_QT         the Qt prefix (its bin/ and plugins/)
//   WINEPREFIX             the suite's private prefix

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "demo_commands_script.h"
#include "rig.h"
#include "wine_run.h"

using demoscript::Form;
using demoscript::formOf;
using demoscript::replyFor;
using demoscript::replyInGbk;
using namespace std::chrono_literals;

namespace {

const char* const kKey = "586013972460318275";

// One run of the demo host under wine, on the offscreen platform with the
// build's Qt.
class DemoRun : public winerun::WineRun {
public:
    explicit DemoRun(std::vector<std::string> args)
        : DemoRun(std::move(args), winerun::requiredEnv("ZOLVO_WIN32_QT")) {}

private:
    DemoRun(std::vector<std::string> args, const std::string& qt)
        : WineRun(winerun::requiredEnv("ZOLVO_WIN32_DEMO_HOST"), std::move(args),
                  winerun::requiredEnv("ZOLVO_WIN32_DLLS") + ";" + qt + "/bin", "zh_CN.GBK",
                  {{"QT_PLUGIN_PATH", "Z:" + qt + "/plugins"}, {"QT_QPA_PLATFORM", "offscreen"}}) {}
};

}  // namespace

TEST(Win32Demo, WindowMatchesItsTableAndSamples) {
    DemoRun run({"window"});
    EXPECT_EQ(run.wait(120s), 0) << run.output();
    EXPECT_NE(run.output().find("Totals: 5 passed, 0 failed"), std::string::npos) << run.output();
}

TEST(Win32Demo, EveryFunctionReachesThePlatformAsOnLinux) {
    rig::PlatformServer server;
    replyInGbk(server);
    rig::TempDir dir;
    // A Windows path, as the file dialog shows it: Z: is the Linux root under wine.
    DemoRun run({"requests", server.baseUrl(), "Z:" + dir.path()});
    ASSERT_EQ(run.wait(150s), 0) << run.output();

    EXPECT_EQ(run.result("init"), "{\"code\":\"0000\",\"msg\":\"初始化成功!\"}");
    const rig::RecordedRequest init = server.requestsTo("/api/client/init.do").at(0);
    EXPECT_TRUE(rig::checkSign(init.body, kKey)) << init.body;
    const Form initForm = formOf(init);
    EXPECT_EQ(initForm.at("manufacturer"), "201808290001");
    EXPECT_EQ(initForm.at("parkCode"), "201808150001");
    EXPECT_EQ(initForm.at("sysCode"), "0001");
    EXPECT_EQ(initForm.at("channelNumber"), "A4");

    const std::string image = run.result("image");
    ASSERT_GT(image.size(), 8u);
    EXPECT_EQ(run.result("chosen"), "") << "the file dialog refused the image";
    EXPECT_EQ(run.result("preview"), "yes");

    for (const demoscript::SampleRequest& c : demoscript::sampleRequests()) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(run.result("response" + std::to_string(c.index)), replyFor(c.path));
        const auto sent = server.requestsTo(c.path);
        ASSERT_EQ(sent.size(), 1u);
        const rig::RecordedRequest& r = sent[0];
        demoscript::checkSampleForm(c, formOf(r));
        // The signature covers the GBK text.
        const std::string wire = rig::wireForm(r);
        EXPECT_TRUE(rig::checkSign(c.index == 3 ? wire : rig::utf8ToGbk(wire), kKey))
            << rig::hex(wire);
        const rig::Part* file = r.part("fileImage");
        ASSERT_EQ(file != nullptr, c.withImage);
        if (file) {
            EXPECT_TRUE(file->contents == image) << file->contents.size() << " bytes";
            EXPECT_EQ(file->filename, "car-entry.png");
        }
    }
}

TEST(Win32Demo, CallbackObjectAnswersTheFourCommands) {
    rig::CommandSite site("zolvo/test/demo-win32");
    replyInGbk(site.platform);
    DemoRun run({"commands", site.platform.baseUrl()});
    ASSERT_TRUE(run.waitFor("R serving -\n", 90s)) << run.output();
    EXPECT_EQ(run.result("init"), "{\"code\":\"0000\",\"msg\":\"初始化成功!\"}");
    demoscript::checkFourCommands(site.platform, site.broker, site.topic,
                                  [&] { return run.output(); });
    if (::testing::Test::HasFailure()) std::cerr << "---- the demo's output ----\n" << run.output();

    run.closeInput();
    EXPECT_EQ(run.wait(30s), 0) << run.output();
}
