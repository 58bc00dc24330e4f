// HTTP transport over libcurl's easy interface: one handle per call, synchronous.
#include "http_client.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <cstdio>
#include <mutex>

#include "codepage.h"
#include "text_util.h"

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
    ~MultipartForm() {
        if (first_ != nullptr) curl_formfree(first_);
    }
    MultipartForm(const MultipartForm&) = delete;
    MultipartForm& operator=(const MultipartForm&) = delete;

    // libcurl reads the file itself during the transfer.
    void addFile(const std::string& path) {
        curl_formadd(&first_, &last_, CURLFORM_COPYNAME, "fileImage", CURLFORM_FILE,
                     path.c_str(), CURLFORM_END);
    }

    // One field per "&"-separated pair. A pair is split at its first "=" only,
    // so a value that holds "=" reaches the platform whole, as it was signed; a
    // piece without "=" becomes a field of that name with empty contents.
    void addFields(const std::string& formText) {
        for (const std::string& piece : split(formText, "&")) {
            const size_t eq = piece.find('=');
            const std::string name = piece.substr(0, eq);
            const char* contents = (eq == std::string::npos) ? "" : piece.c_str() + eq + 1;
            curl_formadd(&first_, &last_, CURLFORM_COPYNAME, name.c_str(),
                         CURLFORM_COPYCONTENTS, contents, CURLFORM_END);
        }
    }

    void attach(CURL* curl) { curl_easy_setopt(curl, CURLOPT_HTTPPOST, first_); }

private:
    curl_httppost* first_ = nullptr;
    curl_httppost* last_ = nullptr;
};

#pragma GCC diagnostic pop

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

// Opens the file for reading and reads its status; on failure returns the
// result text and leaves `file` null.
std::string openUploadFile(const std::string& path, FILE*& file) {
    file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return resultText(code::kArgument, msg::kUnknownFile);
    struct stat fileInfo;
    if (fstat(fileno(file), &fileInfo) != 0) {
        std::fclose(file);
        file = nullptr;
        return resultText(code::kArgument, msg::kFileError);
    }
    // Here a directory opens for reading too; it is no file to send, and the
    // host learns so as from a path that names nothing.
    if (S_ISDIR(fileInfo.st_mode)) {
        std::fclose(file);
        file = nullptr;
        return resultText(code::kArgument, msg::kUnknownFile);
    }
    return std::string();
}

}  // namespace

std::string HttpClient::post(const std::string& url, const std::string& body) {
    ensureCurlGlobalInit();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return resultText(code::kArgument, msg::kConnectionError);

    std::string responseStr;
    curl_slist* headers = nullptr;
    for (const char* line : kFormHeaders) headers = curl_slist_append(headers, line);

    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
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
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return responseStr;
}

std::string HttpClient::postMultipart(const std::string& url, const std::string& formText,
                                      const std::string& filePath) {
    ensureCurlGlobalInit();
    MultipartForm form;
    if (isPresent(filePath)) {
        FILE* file = nullptr;
        const std::string failure = openUploadFile(filePath, file);
        if (file == nullptr) return failure;
        std::fclose(file);
        form.addFile(filePath);
    }
    form.addFields(formText);

    CURL* curl = curl_easy_init();
    if (curl == nullptr) return resultText(code::kArgument, msg::kConnectionError);

    std::string responseStr;
    setMultipartOptions(curl, url, form, &responseStr);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        reportFailure(rc);
        responseStr = resultText(code::kArgument, msg::kConnectionError);
    }
    curl_easy_cleanup(curl);
    return responseStr;
}

std::string HttpClient::postFile(const std::string& url, const std::string& formText,
                                 const std::string& filePath) {
    ensureCurlGlobalInit();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return resultText(code::kNetwork, msg::kNetworkError);

    // The file stays open until the transfer has ended.
    FILE* file = nullptr;
    const std::string failure = openUploadFile(filePath, file);
    if (file == nullptr) {
        curl_easy_cleanup(curl);
        return failure;
    }

    MultipartForm form;
    form.addFile(filePath);
    form.addFields(formText);

    std::string responseStr;
    setMultipartOptions(curl, url, form, &responseStr);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc != CURLE_OK) {
        reportFailure(rc);
        curl_easy_cleanup(curl);
        std::fclose(file);
        return resultText(code::kArgument, msg::kUploadFailed);
    }

    curl_off_t speedUpload = 0;
    curl_off_t totalTime = 0;
    curl_easy_getinfo(curl, CURLINFO_SPEED_UPLOAD_T, &speedUpload);
    curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME_T, &totalTime);
    std::fprintf(stderr,
                 "Speed: %" CURL_FORMAT_CURL_OFF_T " bytes/sec during %" CURL_FORMAT_CURL_OFF_T
                 ".%06ld seconds\n",
                 speedUpload, static_cast<curl_off_t>(totalTime / 1000000),
                 static_cast<long>(totalTime % 1000000));

    curl_easy_cleanup(curl);
    std::fclose(file);
    return responseStr;
}

size_t HttpClient::writeResponse(char* data, size_t size, size_t nmemb, std::string* target) {
    if (target == nullptr || data == nullptr) return static_cast<size_t>(-1);
    const size_t total = size * nmemb;
    target->append(data, total);
    return total;
}

std::vector<std::string> split(std::string text, std::string separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    // Separators are looked for in the text only, never across its end, so a
    // separator that overlaps itself ("aa" in "aaa") cannot swallow the last piece.
    size_t start = 0;
    for (size_t pos = text.find(separator); pos != std::string::npos;
         pos = text.find(separator, start)) {
        pieces.push_back(text.substr(start, pos - start));
        start = pos + separator.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

}  // namespace zolvo_sdk
