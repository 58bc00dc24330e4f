// A program of the Windows build run under wine by a Linux driver, and the
// variables that the Windows build's ctest entries set for the drivers.
#ifndef ZOLVO_TESTS_WIN32_WINE_RUN_H
#define ZOLVO_TESTS_WIN32_WINE_RUN_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "rig.h"

namespace winerun {

// The value of a variable that the Windows build's ctest entries set; a test
// failure, and the empty text, when it is not set.
inline std::string requiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << name << " is not set: run this program through the Windows build's ctest";
        return std::string();
    }
    return value;
}

// Runs `program` under wine in the suite's prefix, with the DLLs of the
// folders of `winePath`, the locale `lcAll` (zh_CN.GBK: ANSI code page 936)
// and `more` variables.
class WineRun : public rig::ChildProcess {
public:
    WineRun(const std::string& program, std::vector<std::string> args, const std::string& winePath,
            const std::string& lcAll = "zh_CN.GBK", const Environment& more = Environment())
        : ChildProcess(command(program, std::move(args)), environment(winePath, lcAll, more)) {}

private:
    static std::vector<std::string> command(const std::string& program,
                                            std::vector<std::string> args) {
        if (program.empty()) return {};
        args.insert(args.begin(), {"wine", program});
        return args;
    }
    static Environment environment(const std::string& winePath, const std::string& lcAll,
                                   Environment more) {
        more.insert(more.begin(), {{"WINEDEBUG", "-all"},
                                   {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                                   {"WINEPATH", winePath},
                                   {"WINEPREFIX", requiredEnv("WINEPREFIX")},
                                   {"LC_ALL", lcAll}});
        return more;
    }
};

}  // namespace winerun

#endif
