// An internal hook in front of the request functions' transport: when set, it
// receives each prepared request in place of libcurl, and what it returns is
// the request function's result. Unset (the default) the requests go out as
// usual. For tests and fuzz targets only; not part of the public interface.
#ifndef ZOLVO_SDK_REQUEST_TRANSPORT_H
#define ZOLVO_SDK_REQUEST_TRANSPORT_H

#include <atomic>
#include <string>

namespace zolvo_sdk {

// The transport operation a request function uses.
enum class RequestOperation {
    Form,       // HttpClient::post
    Multipart,  // HttpClient::postMultipart
    Upload,     // HttpClient::postFile
};

// A request as the transport would get it: the whole address, the form text
// (signed, and converted to UTF-8 for the requests that send UTF-8) and the
// file path.
struct PreparedRequest {
    RequestOperation operation;
    const std::string& url;
    const std::string& body;
    const std::string& filePath;
};

using RequestTransportHook = std::string (*)(const PreparedRequest& request);

// The hook the request functions look at before each transport call (null:
// none), for every thread.
std::atomic<RequestTransportHook>& requestTransportHook();

// Sets (or, with nullptr, clears) the hook. Inline: the library itself never
// sets it, so it compiles no setter.
inline void setRequestTransportForTesting(RequestTransportHook hook) {
    requestTransportHook().store(hook);
}

}  // namespace zolvo_sdk

#endif
