// HTTP transport over libcurl's easy interface: one handle per call, synchronous.
#include "http_client.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "endpoints_and_results.h"
#include "result_text.h"
#include "text_split.h"

namespace zolvo_sdk {

namespace {

const char* const kFormHeaders[] = {
    "Content-Type:application/x-www-form-urlencoded; charset=UTF-8",
    "Accept:application/json, text/javascript, */*; q=0.01",
    "Accept-Language:zh-CN,zh;q=0.8",
};

const long kFormTimeoutSeconds = 3;
const long kMultipartTimeoutSeconds = 5;

// libcurl's global initialisation is not safe against concurrent calls: run it
// once per process, before the first transfer of whichever operation comes first.
void ensureCurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void reportFailure(CURLcode rc) {
    std::fprintf(stderr, "curl_easy_perform() failed: %s\n", curl_easy_strerror(rc));
}

// The multipart form is built with libcurl's form interface, deprecated in
// newer releases but still supported; the warning is silenced here only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// A multipart form: the optional file part first, then one field per pair.
class MultipartForm {
public:
    MultipartForm() = default;
    ~MultipartForm() { clear(); }
    MultipartForm(const MultipartForm&) = delete;
    MultipartForm& operator=(const MultipartForm&) = delete;

    // libcurl reads the file itself during the transfer.
    void addFile(const std::string& path) {
        curl_formadd(&first_, &last_, CURLFORM_COPYNAME, "fileImage", CURLFORM_FILE, path.c_str(),
                     CURLFORM_END);
    }

    // One field per "&"-separated pair. A pair is split at its first "=" only,
    // so a value that holds "=" reaches the platform whole, as it was signed; a
    // piece without "=" becomes a field of that name with empty contents.
    void addFields(const std::string& formText) {
        for (const std::string& piece : split(formText, "&")) {
            const size_t eq = piece.find('=');
            const std::string name = piece.substr(0, eq);
            const char* contents = (eq == std::string::npos) ? "" : piece.c_str() + eq + 1;
            curl_formadd(&first_, &last_, CURLFORM_COPYNAME, name.c_str(), CURLFORM_COPYCONTENTS,
                         contents, CURLFORM_END);
        }
    }

    void attach(CURL* curl) { curl_easy_setopt(curl, CURLOPT_HTTPPOST, first_); }

    // Frees the parts now (the form is empty afterwards).
    void clear() {
        if (first_ != nullptr) curl_formfree(first_);
        first_ = nullptr;
        last_ = nullptr;
    }

private:
    curl_httppost* first_ = nullptr;
    curl_httppost* last_ = nullptr;
};

#pragma GCC diagnostic pop

// Owners of the C resources of a transfer.
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using UploadFile = std::unique_ptr<FILE, FileCloser>;

struct EasyHandleCleanup {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeaderListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// What one transfer holds, each part released by its owner on every way out of
// an operation. The members go in the reverse order of their declaration: the
// header list, then the handle, then the upload file, then the form.
struct Transfer {
    MultipartForm form;
    UploadFile file;
    std::unique_ptr<CURL, EasyHandleCleanup> handle;
    std::unique_ptr<curl_slist, HeaderListFree> headers;

    // Makes the easy handle; null when libcurl cannot make one.
    CURL* makeHandle() {
        handle.reset(curl_easy_init());
        return handle.get();
    }

    // libcurl returns the head of the list: the same one, a new one when the
    // list was empty, or null (and the list unchanged) when out of memory.
    void appendHeader(const char* line) {
        curl_slist* const head = curl_slist_append(headers.get(), line);
        if (head != nullptr && head != headers.get()) headers.reset(head);
    }
};

// The options of both multipart operations, in their order.
void setMultipartOptions(CURL* curl, const std::string& url, MultipartForm& form,
                         std::string* responseStr) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    form.attach(curl);
    curl_easy_setopt(curl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &HttpClient::writeResponse);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, responseStr);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kMultipartTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kMultipartTimeoutSeconds);
}

// A file to send, opened for reading, and the result text that says why it
// cannot be sent (empty when it can). A file that opened but failed a check is
// still held, so that the caller decides when it is closed.
struct OpenedFile {
    UploadFile file;      // null when it could not be opened
    std::string failure;  // empty on success
};

// Opens the file for reading and reads its status.
OpenedFile openUploadFile(const std::string& path) {
    UploadFile file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) return {nullptr, resultText(code::kArgument, msg::kUnknownFile)};
    struct stat fileInfo;
    if (fstat(fileno(file.get()), &fileInfo) != 0)
        return {std::move(file), resultText(code::kArgument, msg::kFileError)};
    // Here a directory opens for reading too; it is no file to send, and the
    // host learns so as from a path that names nothing.
    if (S_ISDIR(fileInfo.st_mode))
        return {std::move(file), resultText(code::kArgument, msg::kUnknownFile)};
    return {std::move(file), std::string()};
}

}  // namespace

// In each operation the response text is declared before the transfer, so that
// it outlives the handle that writes into it.
std::string HttpClient::post(const std::string& url, const std::string& body) {
    ensureCurlGlobalInit();
    std::string responseStr;
    Transfer transfer;
    CURL* const curl = transfer.makeHandle();
    if (curl == nullptr) return resultText(code::kArgument, msg::kConnectionError);

    for (const char* line : kFormHeaders) transfer.appendHeader(line);

    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers.get());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_HEADER, 0L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &HttpClient::writeResponse);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &responseStr);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kFormTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, kFormTimeoutSeconds);

    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        reportFailure(rc);
        responseStr = resultText(code::kArgument, msg::kConnectionError);
    }
    return responseStr;
}

std::string HttpClient::postMultipart(const std::string& url, const std::string& formText,
                                      const std::string& filePath) {
    ensureCurlGlobalInit();
    std::string responseStr;
    Transfer transfer;
    if (isPresent(filePath)) {
        // Checked and closed again at once: libcurl reads the file itself
        // during the transfer.
        if (OpenedFile checked = openUploadFile(filePath); !checked.failure.empty())
            return std::move(checked.failure);
        transfer.form.addFile(filePath);
    }
    transfer.form.addFields(formText);

    CURL* const curl = transfer.makeHandle();
    if (curl == nullptr) return resultText(code::kArgument, msg::kConnectionError);

    setMultipartOptions(curl, url, transfer.form, &responseStr);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        reportFailure(rc);
        responseStr = resultText(code::kArgument, msg::kConnectionError);
    }
    return responseStr;
}

std::string HttpClient::postFile(const std::string& url, const std::string& formText,
                                 const std::string& filePath) {
    ensureCurlGlobalInit();
    std::string responseStr;
    Transfer transfer;
    CURL* const curl = transfer.makeHandle();
    if (curl == nullptr) return resultText(code::kNetwork, msg::kNetworkError);

    // The file stays open until the transfer has ended. One that fails a check
    // is closed after the handle has been freed.
    OpenedFile upload = openUploadFile(filePath);
    if (!upload.failure.empty()) {
        transfer.handle.reset();
        return std::move(upload.failure);
    }
    transfer.file = std::move(upload.file);

    transfer.form.addFile(filePath);
    transfer.form.addFields(formText);

    setMultipartOptions(curl, url, transfer.form, &responseStr);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        reportFailure(rc);
        // After a failed transfer the form goes before the file is closed.
        transfer.handle.reset();
        transfer.form.clear();
        return resultText(code::kArgument, msg::kUploadFailed);
    }

    curl_off_t speedUpload = 0;
    curl_off_t totalTime = 0;
    curl_easy_getinfo(curl, CURLINFO_SPEED_UPLOAD_T, &speedUpload);
    curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME_T, &totalTime);
    // Through long long and %lld: on Windows libcurl's format macro for
    // curl_off_t is "I64d", which MinGW-w64's C++ build (GNU printf formats)
    // reads as a width and %d.
    std::fprintf(stderr, "Speed: %lld bytes/sec during %lld.%06ld seconds\n",
                 static_cast<long long>(speedUpload), static_cast<long long>(totalTime / 1000000),
                 static_cast<long>(totalTime % 1000000));
    return responseStr;
}

size_t HttpClient::writeResponse(char* data, size_t size, size_t nmemb, std::string* target) {
    if (target == nullptr || data == nullptr) return static_cast<size_t>(-1);
    const size_t total = size * nmemb;
    target->append(data, total);
    return total;
}

}  // namespace zolvo_sdk
