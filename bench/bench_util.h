// Small helpers shared by the benchmark programs.
#ifndef ZOLVO_BENCH_UTIL_H
#define ZOLVO_BENCH_UTIL_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bench {

// CLOCK_MONOTONIC in nanoseconds (one clock for every process on the machine).
int64_t nowNs();

// Median of the values (the mean of the middle two for an even count); 0 when empty.
double median(std::vector<double> values);

// Resident set size of this process, in bytes (from /proc/self/statm).
long rssBytes();

// UTF-8 text to GBK bytes, as a host on the target passes its texts.
std::string toGbk(const std::string& utf8);

// "--name value" pairs of the command line; a missing one gives the default.
class Args {
public:
    Args(int argc, char** argv);
    std::string text(const std::string& name, const std::string& fallback = std::string()) const;
    long number(const std::string& name, long fallback) const;

private:
    std::map<std::string, std::string> values_;
};

// Appends one "key value" line to the results file (or stdout when the path is empty).
void report(const std::string& path, const std::string& key, double value);

}  // namespace bench

#endif
