// HTTP transport over libcurl: one easy handle per call, synchronous.
#ifndef ZOLVO_SDK_HTTP_CLIENT_H
#define ZOLVO_SDK_HTTP_CLIENT_H

#include <cstddef>
#include <string>

namespace zolvo_sdk {

class HttpClient {
public:
    // application/x-www-form-urlencoded POST of `body`; redirects followed; 3 s time-outs.
    std::string post(const std::string& url, const std::string& body);
    // multipart/form-data POST: optional file part "fileImage" first, then one field
    // per pair of `formText`; no redirects; 5 s time-outs.
    std::string postMultipart(const std::string& url, const std::string& formText,
                              const std::string& filePath);
    // The same multipart POST with a required file, followed by a speed line on stderr.
    std::string postFile(const std::string& url, const std::string& formText,
                         const std::string& filePath);

    static size_t writeResponse(char* data, size_t size, size_t nmemb, std::string* target);
};

}  // namespace zolvo_sdk

#endif
