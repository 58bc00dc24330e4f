// The Windows side of the wine suite: a host program of ZOLVO_SDK.dll, run
// under wine by the Linux driver (driver.cpp), which starts the platform and
// the broker, reads what this program prints and checks it together with what
// the platform recorded. This program checks nothing itself.
//
//   zolvo_win32_host <scenario> <arguments…>
//
// It prints, one a line, flushed at once:
//   ACP <n>             GetACP(), first
//   R <label> <hex>     a result, as the hex of its bytes
//   READY <tag>         a point the driver acts on (publish, restart…)
//   WAIT <tag>          then it reads one line from standard input before going on
//   DONE                the scenario ran to its end
//   EXITING             the process's exit has begun (its first exit handler)
// Built twice: zolvo_win32_host.exe links the DLL as a host would;
// zolvo_win32_host_static.exe links the library's objects, for the scenarios
// that reach internals (the code-page layer, the reconnect wait).
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../requests/wire_cases.h"
#include "broken_texts.h"
#include "wire_hex.h"
#include "zolvo_sdk/zolvo_sdk.h"

#ifdef ZOLVO_WIN32_HOST_STATIC
#  include "codepage.h"
#  include "command_channel.h"
#  include "result_text.h"
#endif

using zolvo_sdk::ZOLVOSDK;

namespace {

// The car park of every scenario (the driver checks against the same values).
const char* const kManufacturer = "ZOLVO-WIN32";
using wirecases::kChannel;
using wirecases::kKey;
using wirecases::kParkCode;
using wirecases::kPlate;
using wirecases::kSysCode;

std::mutex g_printMutex;

std::string hex(const std::string& bytes) { return wirehex::encode(bytes); }

void line(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void result(const std::string& label, const std::string& bytes) {
    line("R " + label + " " + hex(bytes));
}

std::string init(const std::string& url) {
    return ZOLVOSDK::init(kManufacturer, kParkCode, kSysCode, kChannel, kKey, url);
}

// Waits until `condition` holds, polling every 10 ms; false after `seconds`.
template <typename Condition>
bool waitUntil(Condition condition, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Payloads received by the callback function.
std::mutex g_payloadMutex;
std::vector<std::string> g_payloads;
std::atomic<int> g_payloadCount{0};
bool g_printPayloads = true;

void onPayload(const char* payload) {
    {
        std::lock_guard<std::mutex> lock(g_payloadMutex);
        g_payloads.push_back(payload);
    }
    ++g_payloadCount;
    if (g_printPayloads) result("payload", payload);
}

// A host's callback object: prints every call with its arguments.
std::atomic<int> g_commandCount{0};

std::string join(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "|") + p;
    return out;
}

class Recorder : public zolvo_sdk::CommandInterface {
public:
    ~Recorder() override { line("DELETED recorder"); }
    void queryOrder(std::string parkCode, std::string orderId, std::string carNumber) override {
        result("queryOrder", join({parkCode, orderId, carNumber}));
        ++g_commandCount;
    }
    void scanQrCodePay(std::string parkCode, std::string sysCode, std::string channel,
                       std::string scanNumber, std::string orderId, std::string carNumber,
                       int tempCar) override {
        result("scanQrCodePay", join({parkCode, sysCode, channel, scanNumber, orderId, carNumber,
                                      std::to_string(tempCar)}));
        ++g_commandCount;
    }
    void scanQrEntry(std::string parkCode, std::string sysCode, std::string channel,
                     std::string carNumber, std::string scanNumber) override {
        result("scanQrEntry", join({parkCode, sysCode, channel, carNumber, scanNumber}));
        ++g_commandCount;
    }
    void noticeOfPaymentResult(std::string orderId, std::string carNumber, int payStatus,
                               int payAmount, int duration, std::string inTime, std::string outTime,
                               std::string payTime, int payMethod, std::string parkCode) override {
        result("noticeOfPaymentResult",
               join({orderId, carNumber, std::to_string(payStatus), std::to_string(payAmount),
                     std::to_string(duration), inTime, outTime, payTime, std::to_string(payMethod),
                     parkCode}));
        ++g_commandCount;
    }
};

int usage() {
    std::fputs("usage: zolvo_win32_host <scenario> <arguments>\n", stderr);
    return 2;
}

// ------------------------------------------------------------------ scenarios

// init's refusals and replies: <ok> <empty> <bad> <refused> <closed> URLs.
int scenarioInit(const std::vector<std::string>& a) {
    if (a.size() != 5) return usage();
    result("entry-before-init", ZOLVOSDK::entry(kPlate, "20180831123056", "O1", "", 0, ""));
    result("no-callback", init(a[0]));
    ZOLVOSDK::setCallBackFun(&onPayload);
    result("no-manufacturer", ZOLVOSDK::init("", kParkCode, kSysCode, kChannel, kKey, a[0]));
    result("no-park-code", ZOLVOSDK::init(kManufacturer, "", kSysCode, kChannel, kKey, a[0]));
    result("no-sys-code", ZOLVOSDK::init(kManufacturer, kParkCode, "", kChannel, kKey, a[0]));
    result("no-channel", ZOLVOSDK::init(kManufacturer, kParkCode, kSysCode, "", kKey, a[0]));
    result("no-key", ZOLVOSDK::init(kManufacturer, kParkCode, kSysCode, kChannel, "", a[0]));
    result("empty-reply", init(a[1]));
    result("bad-reply", init(a[2]));
    result("refused", init(a[3]));
    result("closed", init(a[4]));
    result("success", init(a[0]));
    result("again", init(a[0]));
    ZOLVOSDK::unInit();
    result("entry-after-uninit", ZOLVOSDK::entry(kPlate, "20180831123056", "O1", "", 0, ""));
    result("success-after-uninit", init(a[0]));
    ZOLVOSDK::unInit();
    return 0;
}

// The nine request functions and the file cases: <url> <image> <upload file> <folder>.
int scenarioRequests(const std::vector<std::string>& a) {
    if (a.size() != 4) return usage();
    const std::string& image = a[1];
    const std::string& upload = a[2];
    const std::string& folder = a[3];
    ZOLVOSDK::setCallBackFun(&onPayload);
    result("init", init(a[0]));
    for (const wirecases::WireCase& c : wirecases::kCases) result(c.name, c.call(upload));
    result("entry-image", ZOLVOSDK::entry(kPlate, "20180831123056", "IMG00001", image, 0, ""));
    result("entry-missing-image",
           ZOLVOSDK::entry(kPlate, "20180831123056", "IMG00002", folder + "/none.jpg", 0, ""));
    result("entry-folder-image",
           ZOLVOSDK::entry(kPlate, "20180831123056", "IMG00003", folder, 0, ""));
    result("upload-missing-file", ZOLVOSDK::uploadFile("O1", folder + "/none.jpg", "entry"));
    result("entry-short-plate", ZOLVOSDK::entry("A8888", "20180831123056", "O1", "", 0, ""));
    ZOLVOSDK::unInit();
    return 0;
}

// Transport failures: <url> <upload file>. The driver's platform answers the
// paths below late, or sends them on to a closed port.
int scenarioTransport(const std::vector<std::string>& a) {
    if (a.size() != 2) return usage();
    const std::string& upload = a[1];
    ZOLVOSDK::setCallBackFun(&onPayload);
    result("init", init(a[0]));
    // form post (3 s) and multipart post (5 s) time-outs
    result("finish-timeout", ZOLVOSDK::finish("201808310001", kPlate, "20180831133056"));
    result("entry-timeout", ZOLVOSDK::entry(kPlate, "20180831123056", "O1", "", 0, ""));
    result("uploadFile-timeout", ZOLVOSDK::uploadFile("O1", upload, "entry"));
    // sent on to a closed port
    result("queryOrder-refused", ZOLVOSDK::queryOrder("O1"));
    ZOLVOSDK::unInit();
    return 0;
}

// An HTTPS platform through Schannel: <https url>.
int scenarioHttps(const std::vector<std::string>& a) {
    if (a.size() != 1) return usage();
    ZOLVOSDK::setCallBackFun(&onPayload);
    result("init", init(a[0]));
    result("queryOrder", ZOLVOSDK::queryOrder("201808310001"));
    ZOLVOSDK::unInit();
    return 0;
}

// The four commands to a callback object: <url>.
int scenarioCommands(const std::vector<std::string>& a) {
    if (a.size() != 1) return usage();
    ZOLVOSDK::setCommandInterface(new Recorder);
    result("init", init(a[0]));
    line("READY commands");
    const bool all = waitUntil([] { return g_commandCount.load() >= 4; }, 30);
    result("all-four", all ? "yes" : "no");
    ZOLVOSDK::unInit();
    return 0;
}

// Payloads to a callback function: <url> <count>.
int scenarioCallback(const std::vector<std::string>& a) {
    if (a.size() != 2) return usage();
    const int count = std::atoi(a[1].c_str());
    ZOLVOSDK::setCallBackFun(&onPayload);
    result("init", init(a[0]));
    line("READY payloads");
    const bool all = waitUntil([&] { return g_payloadCount.load() >= count; }, 30);
    result("all-payloads", all ? "yes" : "no");
    ZOLVOSDK::unInit();
    return 0;
}

// unInit/init cycles while commands arrive: <url> <cycles>.
int scenarioCycles(const std::vector<std::string>& a) {
    if (a.size() != 2) return usage();
    const int cycles = std::atoi(a[1].c_str());
    g_printPayloads = false;
    ZOLVOSDK::setCallBackFun(&onPayload);
    line("READY cycles");
    int succeeded = 0;
    for (int i = 0; i < cycles; ++i) {
        const std::string reply = init(a[0]);
        if (reply.find("\"code\":\"0000\"") != std::string::npos) {
            ++succeeded;
        } else {
            result("failed-init", reply);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + (i % 5) * 20));
        ZOLVOSDK::unInit();
    }
    result("succeeded", std::to_string(succeeded));
    // One more init: commands still arrive after the cycles.
    const int before = g_payloadCount.load();
    result("final-init", init(a[0]));
    const bool more = waitUntil([&] { return g_payloadCount.load() > before; }, 20);
    result("payloads-after-cycles", more ? "yes" : "no");
    result("payloads-seen", g_payloadCount.load() > 0 ? "yes" : "no");
    ZOLVOSDK::unInit();
    return 0;
}

// The destructor tears the library down while the channel runs: <url>.
int scenarioDestructor(const std::vector<std::string>& a) {
    if (a.size() != 1) return usage();
    ZOLVOSDK::setCommandInterface(new Recorder);
    result("init", init(a[0]));
    line("READY destructor");
    result("command-arrived",
           waitUntil([] { return g_commandCount.load() >= 1; }, 30) ? "yes" : "no");
    { ZOLVOSDK sdk; }  // the channel stops, the callback object is deleted
    line("TORN-DOWN");
    result("entry-after-teardown", ZOLVOSDK::entry(kPlate, "20180831123056", "O1", "", 0, ""));
    result("init-after-teardown", init(a[0]));
    ZOLVOSDK::unInit();
    return 0;
}

// The six converting request functions, each text argument in turn ending in
// a broken GBK character (broken_texts.h): <url>.
int scenarioBroken(const std::vector<std::string>& a) {
    if (a.size() != 1) return usage();
    ZOLVOSDK::setCallBackFun(&onPayload);
    result("init", init(a[0]));
    for (const brokentext::Case& c : brokentext::allCases()) {
        result(c.label(), brokentext::run(c));
    }
    ZOLVOSDK::unInit();
    return 0;
}

// A program that hangs (for the driver's time-out): prints its state and sleeps.
int scenarioHang() {
    line("READY hanging");
    for (;;) Sleep(1000);
}

#ifndef ZOLVO_WIN32_HOST_STATIC
// The version resource of the ZOLVO_SDK.dll this program loaded, read back
// the way Windows' file properties read it: the file it was loaded from, the
// fixed file and product versions, and the strings of the 040904b0 block.
int scenarioVersion() {
    HMODULE module = GetModuleHandleA("ZOLVO_SDK.dll");
    char path[MAX_PATH] = {0};
    if (module == nullptr || GetModuleFileNameA(module, path, MAX_PATH) == 0) return 4;
    result("path", path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return 5;
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(path, 0, size, info.data())) return 6;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        fixed == nullptr || fixed->dwSignature != 0xFEEF04BD)
        return 7;
    auto quad = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
               std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    result("fixed-file", quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    result("fixed-product", quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    result("file-type", std::to_string(fixed->dwFileType));
    for (const char* name :
         {"FileVersion", "ProductVersion", "ProductName", "CompanyName", "OriginalFilename"}) {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
        if (VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) &&
            value != nullptr) {
            result(name, std::string(value));
        } else {
            result(name, "(none)");
        }
    }
    return 0;
}
#endif

#ifdef ZOLVO_WIN32_HOST_STATIC
// Used by the reconnection scenario only, which the static host alone runs.
void waitForDriver(const std::string& tag) {
    line("WAIT " + tag);
    char buffer[256];
    if (std::fgets(buffer, sizeof buffer, stdin) == nullptr) std::exit(3);
}

bool payloadArrived(const std::string& wanted) {
    std::lock_guard<std::mutex> lock(g_payloadMutex);
    for (const auto& p : g_payloads) {
        if (p == wanted) return true;
    }
    return false;
}

// A broker restart and the reconnection after it: <url>.
int scenarioReconnect(const std::vector<std::string>& a) {
    if (a.size() != 1) return usage();
    zolvo_sdk::CommandChannel::instance().setReconnectWait(std::chrono::milliseconds(500));
    ZOLVOSDK::setCallBackFun(&onPayload);
    result("init", init(a[0]));
    line("READY before");
    result("before", waitUntil([] { return payloadArrived("before"); }, 30) ? "yes" : "no");
    waitForDriver("restart");
    line("READY after");
    result("after", waitUntil([] { return payloadArrived("after"); }, 60) ? "yes" : "no");
    ZOLVOSDK::unInit();
    return 0;
}

// The code-page layer over every GBK double-byte pair (lead 81–FE, trail
// 40–7E and 80–FE): <output file>. A line a pair: "LLTT <ansiToUtf8 hex>
// <utf8ToGbk of that, hex> <utf8ToAnsi of that, hex>".
int scenarioCodepage(const std::vector<std::string>& a) {
    if (a.size() != 1) return usage();
    FILE* out = std::fopen(a[0].c_str(), "wb");
    if (out == nullptr) return 4;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string utf8 = zolvo_sdk::ansiToUtf8(pair);
            std::fprintf(out, "%s %s %s %s\n", hex(pair).c_str(), hex(utf8).c_str(),
                         hex(zolvo_sdk::utf8ToGbk(utf8)).c_str(),
                         hex(zolvo_sdk::utf8ToAnsi(utf8)).c_str());
        }
    }
    std::fclose(out);
    // Every lead byte before each byte that cannot trail it, into broken.txt
    // beside the output file: "LLTT <ansiToUtf8 hex>".
    const std::string folder = a[0].substr(0, a[0].find_last_of("/\\") + 1);
    FILE* broken = std::fopen((folder + "broken.txt").c_str(), "wb");
    if (broken == nullptr) return 4;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int next = 0x01; next <= 0xFF; ++next) {
            if ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFE)) continue;
            const std::string text{static_cast<char>(lead), static_cast<char>(next)};
            std::fprintf(broken, "%s %s\n", hex(text).c_str(),
                         hex(zolvo_sdk::ansiToUtf8(text)).c_str());
        }
    }
    std::fclose(broken);
    // Texts that are no GBK: single bytes, a cut pair, bytes outside the pair ranges.
    const char* const odd[] = {"\x80",
                               "\xFF",
                               "A\x81",
                               "\x81\x20"
                               "B",
                               "\xA1\x7F",
                               "\xFE\xFF",
                               "\xD6&\xD6\xD0"};
    for (const char* text : odd) result("odd-" + hex(text), zolvo_sdk::ansiToUtf8(text));
    result("resultText", zolvo_sdk::resultText("1010", "SDK未初始化!"));
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    // Registered before anything else of main: it runs when exit begins.
    std::atexit([] {
        std::fputs("EXITING\n", stdout);
        std::fflush(stdout);
    });
    line("ACP " + std::to_string(GetACP()));
    if (argc < 2) return usage();
    const std::string scenario = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    int rc = 2;
    if (scenario == "init") rc = scenarioInit(args);
    else if (scenario == "requests") rc = scenarioRequests(args);
    else if (scenario == "transport") rc = scenarioTransport(args);
    else if (scenario == "https") rc = scenarioHttps(args);
    else if (scenario == "commands") rc = scenarioCommands(args);
    else if (scenario == "callback") rc = scenarioCallback(args);
    else if (scenario == "cycles") rc = scenarioCycles(args);
    else if (scenario == "destructor") rc = scenarioDestructor(args);
    else if (scenario == "broken") rc = scenarioBroken(args);
    else if (scenario == "hang") rc = scenarioHang();
#ifndef ZOLVO_WIN32_HOST_STATIC
    else if (scenario == "version") rc = scenarioVersion();
#endif
#ifdef ZOLVO_WIN32_HOST_STATIC
    else if (scenario == "reconnect") rc = scenarioReconnect(args);
    else if (scenario == "codepage") rc = scenarioCodepage(args);
#endif
    else return usage();
    if (rc == 0) line("DONE");
    return rc;
}
