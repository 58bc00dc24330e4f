#include "bench_util.h"

#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace bench {

int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long rssBytes() {
    long pages = 0;
    long resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

std::string toGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open GBK");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* outPtr = &out[0];
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) throw std::runtime_error("iconv to GBK");
    out.resize(out.size() - outLeft);
    return out;
}

Args::Args(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        if (name.rfind("--", 0) != 0) throw std::runtime_error("unexpected argument " + name);
        values_[name.substr(2)] = argv[i + 1];
    }
}

std::string Args::text(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

long Args::number(const std::string& name, long fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : std::strtol(it->second.c_str(), nullptr, 10);
}

void report(const std::string& path, const std::string& key, double value) {
    FILE* f = path.empty() ? stdout : std::fopen(path.c_str(), "a");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return;
    }
    std::fprintf(f, "%s %.6f\n", key.c_str(), value);
    if (f != stdout) std::fclose(f);
    else std::fflush(f);
}

}  // namespace bench
