// Request overhead: queryOrder (form post) and entry without an image (multipart
// post) through the library, against the same request made with raw libcurl (a
// fresh easy handle per request, the same headers and body), on the same
// loopback platform, interleaved A/B.
//   bench_requests --url http://127.0.0.1:PORT --pairs 2000 --out results.txt
#include <curl/curl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "openssl_md5.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace {

using zolvo_sdk::ZOLVOSDK;

const std::string kManufacturer = "M01";
const std::string kParkCode = "201808150001";
const std::string kSysCode = "0001";
const std::string kChannel = "A4";
const std::string kKey = "1a2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d";
const std::string kOrderId = "201808310001";
const std::string kInTime = "20180831123056";

std::string signedText(const std::string& form) {
    return form + "&sign=" + rig::opensslMd5Hex(form + "&key=" + kKey);
}

size_t collect(char* data, size_t size, size_t nmemb, void* target) {
    static_cast<std::string*>(target)->append(data, size * nmemb);
    return size * nmemb;
}

// The form post as a host makes it with libcurl: the library's headers and options.
std::string rawFormPost(const std::string& url, const std::string& body) {
    CURL* curl = curl_easy_init();
    std::string reply;
    curl_slist* headers = nullptr;
    headers =
        curl_slist_append(headers, "Content-Type:application/x-www-form-urlencoded; charset=UTF-8");
    headers = curl_slist_append(headers, "Accept:application/json, text/javascript, */*; q=0.01");
    headers = curl_slist_append(headers, "Accept-Language:zh-CN,zh;q=0.8");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 3L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 3L);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) std::fprintf(stderr, "raw form post: %s\n", curl_easy_strerror(rc));
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

// Runs a multipart post whose body is already attached to `curl` (5 s
// time-outs, no redirects, as the library's multipart posts) and frees the handle.
std::string performMultipart(CURL* curl, const std::string& url, const char* label) {
    std::string reply;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 5L);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) std::fprintf(stderr, "%s: %s\n", label, curl_easy_strerror(rc));
    curl_easy_cleanup(curl);
    return reply;
}

// The multipart post as a host makes it with libcurl's mime interface.
std::string rawMultipartPost(const std::string& url,
                             const std::vector<std::pair<std::string, std::string>>& fields) {
    CURL* curl = curl_easy_init();
    curl_mime* mime = curl_mime_init(curl);
    for (const auto& field : fields) {
        curl_mimepart* part = curl_mime_addpart(mime);
        curl_mime_name(part, field.first.c_str());
        curl_mime_data(part, field.second.data(), field.second.size());
    }
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
    std::string reply = performMultipart(curl, url, "raw multipart post");
    curl_mime_free(mime);
    return reply;
}

// The same multipart post made with libcurl's form interface, the interface the
// library itself uses for its multipart posts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::string rawFormInterfacePost(const std::string& url,
                                 const std::vector<std::pair<std::string, std::string>>& fields) {
    CURL* curl = curl_easy_init();
    curl_httppost* first = nullptr;
    curl_httppost* last = nullptr;
    for (const auto& field : fields) {
        curl_formadd(&first, &last, CURLFORM_COPYNAME, field.first.c_str(), CURLFORM_COPYCONTENTS,
                     field.second.c_str(), CURLFORM_END);
    }
    curl_easy_setopt(curl, CURLOPT_HTTPPOST, first);
    std::string reply = performMultipart(curl, url, "raw form-interface post");
    curl_formfree(first);
    return reply;
}
#pragma GCC diagnostic pop

}  // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv);
    const std::string url = args.text("url");
    const long pairs = args.number("pairs", 2000);
    const std::string out = args.text("out");
    if (url.empty()) {
        std::fprintf(stderr, "usage: bench_requests --url BASE [--pairs N] [--out FILE]\n");
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);

    ZOLVOSDK::setCommandInterface(new zolvo_sdk::CommandInterface());
    const std::string initReply =
        ZOLVOSDK::init(kManufacturer, kParkCode, kSysCode, kChannel, kKey, url);
    if (initReply.find("\"0000\"") == std::string::npos) {
        std::fprintf(stderr, "init failed: %s\n", initReply.c_str());
        return 1;
    }

    // The requests both sides send: same address, same bytes.
    const std::string plate = bench::toGbk("陕A12345");
    const std::string queryUrl = url + "/api/order/query.do";
    const std::string queryBody = signedText("orderId=" + kOrderId + "&parkCode=" + kParkCode);
    const std::string entryUrl = url + "/api/car/enter.do";
    const std::string entrySigned =
        signedText("carNumber=" + plate + "&inChannel=" + kSysCode + "&inTime=" + kInTime +
                   "&orderId=" + kOrderId + "&parkCode=" + kParkCode + "&sysCode=" + kSysCode);
    const std::string entryUtf8Plate = "陕A12345";
    const std::vector<std::pair<std::string, std::string>> entryFields = {
        {"carNumber", entryUtf8Plate},
        {"inChannel", kSysCode},
        {"inTime", kInTime},
        {"orderId", kOrderId},
        {"parkCode", kParkCode},
        {"sysCode", kSysCode},
        {"sign", entrySigned.substr(entrySigned.rfind("&sign=") + 6)}};

    auto libQuery = [&] { return ZOLVOSDK::queryOrder(kOrderId); };
    auto rawQuery = [&] { return rawFormPost(queryUrl, queryBody); };
    auto libEntry = [&] { return ZOLVOSDK::entry(plate, kInTime, kOrderId, "", 0, ""); };
    auto rawEntry = [&] { return rawMultipartPost(entryUrl, entryFields); };
    auto formEntry = [&] { return rawFormInterfacePost(entryUrl, entryFields); };

    // Both sides must get the platform's reply, not a result text of their own.
    const std::string expectQuery = rawQuery();
    const std::string expectEntry = rawEntry();
    if (libQuery() != expectQuery || libEntry() != expectEntry || formEntry() != expectEntry ||
        expectQuery.find("query.do") == std::string::npos ||
        expectEntry.find("enter.do") == std::string::npos) {
        std::fprintf(stderr, "replies differ: %s / %s\n", expectQuery.c_str(), expectEntry.c_str());
        return 1;
    }
    for (int i = 0; i < 50; ++i) {
        libQuery();
        rawQuery();
        libEntry();
        rawEntry();
        formEntry();
    }

    std::vector<double> lq, rq, le, re, fe;
    size_t failures = 0;
    auto timed = [&](auto&& call, const std::string& expected, std::vector<double>& into) {
        const int64_t t0 = bench::nowNs();
        const std::string reply = call();
        into.push_back(static_cast<double>(bench::nowNs() - t0) / 1000.0);
        if (reply != expected) ++failures;
    };
    for (long i = 0; i < pairs; ++i) {
        // A/B order alternates so that neither side always runs on a warmer path.
        if (i % 2 == 0) {
            timed(libQuery, expectQuery, lq);
            timed(rawQuery, expectQuery, rq);
            timed(rawEntry, expectEntry, re);
            timed(formEntry, expectEntry, fe);
            timed(libEntry, expectEntry, le);
        } else {
            timed(rawQuery, expectQuery, rq);
            timed(libQuery, expectQuery, lq);
            timed(libEntry, expectEntry, le);
            timed(formEntry, expectEntry, fe);
            timed(rawEntry, expectEntry, re);
        }
    }
    bench::report(out, "query_lib_us", bench::median(lq));
    bench::report(out, "query_raw_us", bench::median(rq));
    bench::report(out, "entry_lib_us", bench::median(le));
    bench::report(out, "entry_raw_us", bench::median(re));
    bench::report(out, "entry_form_us", bench::median(fe));
    bench::report(out, "request_pairs", static_cast<double>(pairs));
    bench::report(out, "request_failures", static_cast<double>(failures));
    ZOLVOSDK::unInit();
    return failures == 0 ? 0 : 1;
}
