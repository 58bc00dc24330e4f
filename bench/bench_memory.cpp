// Memory: resident set of a host after 100 and after 10,000 requests (a mix of
// queryOrder, entry without and with an image, and pushOrder), against a
// loopback platform running in another process.
//   bench_memory --url http://127.0.0.1:PORT --out results.txt
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_util.h"
#include "zolvo_sdk/zolvo_sdk.h"

using zolvo_sdk::ZOLVOSDK;

int main(int argc, char** argv) {
    const bench::Args args(argc, argv);
    const std::string url = args.text("url");
    const std::string out = args.text("out");
    const long total = args.number("requests", 10000);
    if (url.empty()) {
        std::fprintf(stderr, "usage: bench_memory --url BASE [--requests N] [--out FILE]\n");
        return 2;
    }

    char imagePath[] = "/tmp/zolvo-bench-image-XXXXXX";
    const int fd = mkstemp(imagePath);
    if (fd < 0) return 1;
    std::string image(4096, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
    if (write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size())) return 1;
    close(fd);

    ZOLVOSDK::setCommandInterface(new zolvo_sdk::CommandInterface());
    const std::string reply = ZOLVOSDK::init("M01", "201808150001", "0001", "A4",
                                             "1a2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d", url);
    if (reply.find("\"0000\"") == std::string::npos) {
        std::fprintf(stderr, "init failed: %s\n", reply.c_str());
        unlink(imagePath);
        return 1;
    }
    const std::string plate = bench::toGbk("陕A12345");

    long failures = 0;
    long rssAt100 = 0;
    for (long i = 1; i <= total; ++i) {
        const std::string orderId = "2018083100" + std::to_string(i);
        std::string result;
        switch (i % 4) {
            case 0:
                result = ZOLVOSDK::queryOrder(orderId);
                break;
            case 1:
                result = ZOLVOSDK::entry(plate, "20180831123056", orderId, "", 0, "");
                break;
            case 2:
                result = ZOLVOSDK::entry(plate, "20180831123056", orderId, imagePath, 0, "");
                break;
            default:
                result = ZOLVOSDK::pushOrder(orderId, plate, "20180831123056", "0001",
                                             "20180831133056", "0001", 3600, 300);
        }
        if (result.find("\"ok\"") == std::string::npos) ++failures;
        if (i == 100) rssAt100 = bench::rssBytes();
    }
    const long rssAtEnd = bench::rssBytes();
    unlink(imagePath);
    bench::report(out, "rss_after_100_kib", rssAt100 / 1024.0);
    bench::report(out, "rss_after_" + std::to_string(total) + "_kib", rssAtEnd / 1024.0);
    bench::report(out, "rss_growth_kib", (rssAtEnd - rssAt100) / 1024.0);
    bench::report(out, "memory_failures", static_cast<double>(failures));
    ZOLVOSDK::unInit();
    return failures == 0 ? 0 : 1;
}
