// The shared library exports its two classes and nothing else of its own.
#include <gtest/gtest.h>

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::string demangle(const std::string& name) {
    int status = 0;
    char* d = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (!d) return name;
    std::string s(d);
    std::free(d);
    return s;
}

struct Symbol {
    std::string mangled;
    std::string name;  // demangled
};

std::vector<Symbol> definedDynamicSymbols() {
    std::vector<Symbol> out;
    std::string text = run(std::string("nm -D --defined-only ") + ZOLVO_SDK_SO);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        size_t sp = line.rfind(' ');
        if (sp == std::string::npos) continue;
        std::string m = line.substr(sp + 1);
        out.push_back({m, demangle(m)});
    }
    return out;
}

bool startsWith(const std::string& s, const std::string& p) {
    return s.compare(0, p.size(), p) == 0;
}

bool isExportedClass(const std::string& name) {
    for (const char* cls : {"zolvo_sdk::ZOLVOSDK", "zolvo_sdk::CommandInterface"}) {
        for (const char* prefix : {"", "typeinfo for ", "typeinfo name for ", "vtable for ",
                                   "non-virtual thunk to ", "virtual thunk to "}) {
            std::string p = std::string(prefix) + cls;
            if (name == p || startsWith(name, p + "::")) return true;
        }
    }
    return false;
}

// Template code of the standard and other libraries, instantiated in the library
// and exported by the toolchain's rules, is not ours unless one of our types is in it.
bool isForeignTemplateCode(const Symbol& s) {
    std::string enc = s.mangled;
    if (!startsWith(enc, "_Z")) return false;
    enc = enc.substr(2);
    for (const char* special : {"TI", "TS", "TV", "TT", "GV", "Z"})
        if (startsWith(enc, special)) {
            enc = enc.substr(std::string(special).size());
            break;
        }
    while (!enc.empty() && (enc[0] == 'N' || enc[0] == 'K' || enc[0] == 'V')) enc.erase(0, 1);
    bool foreign = false;
    for (const char* ns : {"St", "Sa", "Sb", "Ss", "Si", "So", "Sd", "9__gnu_cxx", "4Json"})
        if (startsWith(enc, ns)) foreign = true;
    if (!foreign) return false;
    for (const char* ours :
         {"zolvo", "ZOLVO", "SdkConfig", "HttpClient", "Md5", "MqttCommandClient", "Util::"})
        if (s.name.find(ours) != std::string::npos) return false;
    return true;
}

TEST(Exports, OnlyTheTwoClassesOfOurs) {
    std::vector<Symbol> symbols = definedDynamicSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm found nothing in " << ZOLVO_SDK_SO;
    const std::set<std::string> linker = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    std::set<std::string> exported;
    for (const Symbol& s : symbols) {
        if (isExportedClass(s.name)) {
            exported.insert(s.name);
            continue;
        }
        if (linker.count(s.mangled) || isForeignTemplateCode(s)) continue;
        ADD_FAILURE() << "exported but not part of the interface: " << s.name << " (" << s.mangled
                      << ")";
    }
    // The interface itself is there.
    auto has = [&](const std::string& prefix) {
        for (const auto& n : exported)
            if (startsWith(n, prefix)) return true;
        return false;
    };
    for (const char* needed :
         {"zolvo_sdk::ZOLVOSDK::init(", "zolvo_sdk::ZOLVOSDK::unInit(",
          "zolvo_sdk::ZOLVOSDK::entry(", "zolvo_sdk::ZOLVOSDK::leave(",
          "zolvo_sdk::ZOLVOSDK::finish(", "zolvo_sdk::ZOLVOSDK::freeCar(",
          "zolvo_sdk::ZOLVOSDK::pushOrder(", "zolvo_sdk::ZOLVOSDK::queryOrder(",
          "zolvo_sdk::ZOLVOSDK::scanningOrder(", "zolvo_sdk::ZOLVOSDK::suppOrder(",
          "zolvo_sdk::ZOLVOSDK::uploadFile(", "zolvo_sdk::ZOLVOSDK::setCallBackFun(",
          "zolvo_sdk::ZOLVOSDK::setCommandInterface(", "zolvo_sdk::ZOLVOSDK::~ZOLVOSDK(",
          "zolvo_sdk::CommandInterface::CommandInterface(",
          "zolvo_sdk::CommandInterface::~CommandInterface(",
          "vtable for zolvo_sdk::CommandInterface", "typeinfo for zolvo_sdk::CommandInterface"})
        EXPECT_TRUE(has(needed)) << "not exported: " << needed;
}

TEST(Exports, VersionedSoname) {
    std::string dynamic = run(std::string("objdump -p ") + ZOLVO_SDK_SO);
    EXPECT_NE(dynamic.find(std::string("SONAME               ") + ZOLVO_SDK_SONAME),
              std::string::npos)
        << dynamic;
    EXPECT_TRUE(startsWith(ZOLVO_SDK_SONAME, "libZOLVO_SDK.so."));
}

}  // namespace
