// The platform server of the rig (cpp-httplib), its TLS variant and the signature helpers.
#include "rig.h"
#include "rig_internal.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace rig {

const char* const kEndpoints[10] = {
    "/api/client/init.do",      "/api/car/enter.do",     "/api/car/out.do",
    "/api/car/leave.do",        "/api/order/receive.do", "/api/order/query.do",
    "/api/qr/order/receive.do", "/api/order/supp.do",    "/api/free/car/push.do",
    "/api/file/upload.do",
};

namespace {

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool istartsWith(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string unquote(const std::string& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

// The value of parameter `key` in a header value such as `form-data; name="a"; filename="b"`.
bool headerParam(const std::string& value, const std::string& key, std::string& out) {
    size_t pos = 0;
    while (pos <= value.size()) {
        // Split at ';' outside quotes.
        size_t end = pos;
        bool quoted = false;
        while (end < value.size() && (quoted || value[end] != ';')) {
            if (value[end] == '"') quoted = !quoted;
            ++end;
        }
        std::string item = trim(value.substr(pos, end - pos));
        size_t eq = item.find('=');
        if (eq != std::string::npos && iequals(trim(item.substr(0, eq)), key)) {
            out = unquote(trim(item.substr(eq + 1)));
            return true;
        }
        pos = end + 1;
    }
    return false;
}

// Splits a multipart/form-data body into its parts, in order, with their exact bytes.
std::vector<Part> parseMultipart(const std::string& body, const std::string& contentType) {
    std::vector<Part> parts;
    std::string boundary;
    if (!headerParam(contentType, "boundary", boundary) || boundary.empty()) return parts;
    const std::string delim = "--" + boundary;
    size_t pos = body.find(delim);
    if (pos == std::string::npos) return parts;
    pos += delim.size();
    for (;;) {
        if (body.compare(pos, 2, "--") == 0) break;    // closing delimiter
        if (body.compare(pos, 2, "\r\n") != 0) break;  // malformed
        pos += 2;
        size_t headersEnd = body.find("\r\n\r\n", pos);
        if (headersEnd == std::string::npos) break;
        Part part;
        size_t line = pos;
        while (line < headersEnd) {
            size_t eol = body.find("\r\n", line);
            if (eol == std::string::npos || eol > headersEnd) eol = headersEnd;
            std::string h = body.substr(line, eol - line);
            size_t colon = h.find(':');
            if (colon != std::string::npos) {
                std::string name = trim(h.substr(0, colon));
                std::string value = trim(h.substr(colon + 1));
                if (iequals(name, "Content-Disposition")) {
                    headerParam(value, "name", part.name);
                    headerParam(value, "filename", part.filename);
                } else if (iequals(name, "Content-Type")) {
                    part.contentType = value;
                }
            }
            line = eol + 2;
        }
        size_t contentStart = headersEnd + 4;
        size_t next = body.find("\r\n" + delim, contentStart);
        if (next == std::string::npos) break;
        part.contents = body.substr(contentStart, next - contentStart);
        parts.push_back(std::move(part));
        pos = next + 2 + delim.size();
    }
    return parts;
}

std::string jsonEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

bool isEndpoint(const std::string& path) {
    for (const char* e : kEndpoints)
        if (path == e) return true;
    return false;
}

// A self-signed certificate and key for 127.0.0.1 written as PEM files.
void makeSelfSigned(const std::string& certPath, const std::string& keyPath) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* x = X509_new();
    bool ok = key && x;
    if (ok) {
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(std::time(nullptr)));
        X509_gmtime_adj(X509_getm_notBefore(x), -3600);
        X509_gmtime_adj(X509_getm_notAfter(x), 7L * 24 * 3600);
        X509_set_pubkey(x, key);
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(x, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
        const std::pair<int, const char*> exts[] = {
            {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
            {NID_basic_constraints, "critical,CA:TRUE"},
        };
        for (const auto& e : exts) {
            X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, e.first, e.second);
            ok = ok && ext && X509_add_ext(x, ext, -1);
            X509_EXTENSION_free(ext);
        }
        ok = ok && X509_sign(x, key, EVP_sha256()) > 0;
    }
    if (ok) {
        FILE* c = std::fopen(certPath.c_str(), "wb");
        FILE* k = std::fopen(keyPath.c_str(), "wb");
        ok = c && k && PEM_write_X509(c, x) &&
             PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr);
        if (c) std::fclose(c);
        if (k) std::fclose(k);
    }
    X509_free(x);
    EVP_PKEY_free(key);
    if (!ok) throw std::runtime_error("rig: cannot make a self-signed certificate");
}

std::atomic<int> g_clientIdCounter{0};

const char kHiddenMultipart[] = "x-rig-hidden/";

// Bodies up to this size sit in the socket buffers anyway; larger ones are
// read only after the reply's delay, so that a slow platform is slow to take them.
const size_t kSmallBody = 64 * 1024;

}  // namespace

// ---------------------------------------------------------------- recorded request

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& h : headers)
        if (iequals(h.first, name)) return h.second;
    return std::string();
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    for (const auto& h : headers)
        if (iequals(h.first, name)) return true;
    return false;
}

const Part* RecordedRequest::part(const std::string& name) const {
    for (const auto& p : parts)
        if (p.name == name) return &p;
    return nullptr;
}

// ---------------------------------------------------------------- server

struct PlatformServer::Impl {
    Options options;
    std::unique_ptr<TempDir> dir;
    std::string certPath;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    int listenFd = -1;

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    bool stopping = false;
    std::vector<RecordedRequest> requests;
    std::map<std::string, Reply> replies;
    std::map<std::string, std::function<Reply(const RecordedRequest&)>> handlers;
    std::string brokerUri;
    std::string topic = "zolvo/test/commands";
    std::function<void(const RecordedRequest&, const Reply&)> logger;

    // Waits up to ms, cut short when the server stops.
    void pause(int ms) {
        if (ms <= 0) return;
        std::unique_lock<std::mutex> lk(mu);
        cv.wait_for(lk, std::chrono::milliseconds(ms), [this] { return stopping; });
    }

    Reply defaultReply(const std::string& path) {
        Reply r;
        if (path == "/api/client/init.do") {
            std::lock_guard<std::mutex> lk(mu);
            std::string uri =
                brokerUri.empty() ? "tcp://127.0.0.1:" + std::to_string(closedPort()) : brokerUri;
            r.body = defaultInitReply(uri, topic);
        } else if (isEndpoint(path)) {
            r.body = "{\"code\":\"0000\",\"msg\":\"ok\",\"path\":\"" + jsonEscape(path) + "\"}";
        } else {
            r.status = 404;
            r.body.clear();
        }
        return r;
    }

    void handle(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader* reader) {
        RecordedRequest rec;
        rec.method = req.method;
        rec.path = req.path;
        rec.target = req.target;
        for (const auto& h : req.headers) {
            std::string value = h.second;
            if (iequals(h.first, "Content-Type") && value.rfind(kHiddenMultipart, 0) == 0)
                value.erase(0, std::strlen(kHiddenMultipart));
            rec.headers.emplace_back(h.first, value);
        }

        std::function<Reply(const RecordedRequest&)> handler;
        bool haveReply = false;
        Reply reply;
        {
            std::lock_guard<std::mutex> lk(mu);
            auto h = handlers.find(rec.path);
            if (h != handlers.end()) {
                handler = h->second;
            } else {
                auto r = replies.find(rec.path);
                if (r != replies.end()) {
                    reply = r->second;
                    haveReply = true;
                }
            }
        }
        if (!handler && !haveReply) reply = defaultReply(rec.path);
        bool delayed = false;
        if (reader) {
            size_t length = 0;
            std::string cl = req.get_header_value("Content-Length");
            if (!cl.empty()) length = static_cast<size_t>(std::strtoull(cl.c_str(), nullptr, 10));
            if (!handler && (length > kSmallBody || cl.empty())) {
                pause(reply.delayMs);
                delayed = true;
            }
            (*reader)([&rec](const char* data, size_t n) {
                rec.body.append(data, n);
                return true;
            });
        }
        std::string ct = rec.header("Content-Type");
        if (istartsWith(ct, "multipart/form-data")) {
            rec.multipart = true;
            rec.parts = parseMultipart(rec.body, ct);
        }
        {
            std::lock_guard<std::mutex> lk(mu);
            requests.push_back(rec);
        }
        cv.notify_all();
        if (handler) reply = handler(rec);
        std::function<void(const RecordedRequest&, const Reply&)> log;
        {
            std::lock_guard<std::mutex> lk(mu);
            log = logger;
        }
        if (log) log(rec, reply);
        if (!delayed) pause(reply.delayMs);

        res.status = reply.status;
        if (!reply.location.empty()) res.set_header("Location", reply.location);
        if (!reply.body.empty() || !reply.contentType.empty())
            res.set_content(reply.body, reply.contentType.c_str());
    }
};

PlatformServer::PlatformServer() : PlatformServer(Options()) {}

PlatformServer::PlatformServer(Options options) : impl_(new Impl) {
    detail::atLoad();
    Impl* d = impl_.get();
    d->options = options;
    if (options.tls) {
        d->dir.reset(new TempDir);
        d->certPath = d->dir->path() + "/cert.pem";
        std::string keyPath = d->dir->path() + "/key.pem";
        makeSelfSigned(d->certPath, keyPath);
        d->server.reset(new httplib::SSLServer(d->certPath.c_str(), keyPath.c_str()));
    } else {
        d->server.reset(new httplib::Server);
    }
    if (!d->server->is_valid()) throw std::runtime_error("rig: platform server cannot start");
    d->server->set_payload_max_length(size_t(1) << 30);
    d->server->set_read_timeout(10, 0);
    d->server->set_write_timeout(10, 0);
    // The HTTP server would parse a multipart body itself into an unordered map;
    // hide its type so that the raw bytes reach the handler, which parses them in order.
    d->server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        auto& headers = const_cast<httplib::Request&>(req).headers;
        for (auto& h : headers) {
            if (iequals(h.first, "Content-Type") && istartsWith(h.second, "multipart/form-data"))
                h.second = kHiddenMultipart + h.second;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    d->server->Post(".*",
                    [d](const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader) { d->handle(req, res, &reader); });
    auto plain = [d](const httplib::Request& req, httplib::Response& res) {
        d->handle(req, res, nullptr);
    };
    d->server->Get(".*", plain);
    d->server->Put(".*", plain);
    d->server->Delete(".*", plain);

    d->server->set_socket_options([d](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        d->listenFd = sock;
    });
    if (options.port == 0) {
        d->port = d->server->bind_to_any_port(options.bindHost);
    } else {
        d->port = d->server->bind_to_port(options.bindHost, options.port) ? options.port : -1;
    }
    if (d->port <= 0)
        throw std::runtime_error("rig: platform server cannot bind " + options.bindHost + ":" +
                                 std::to_string(options.port));
    // The server listens with a backlog of 5; load tests open many connections
    // at once. Listening again on the bound socket raises the backlog.
    if (d->listenFd >= 0) ::listen(d->listenFd, SOMAXCONN);
    d->thread = std::thread([d] { d->server->listen_after_bind(); });
    if (!waitUntil([d] { return d->server->is_running(); }, std::chrono::seconds(10))) {
        d->server->stop();
        d->thread.join();
        throw std::runtime_error("rig: platform server did not start");
    }
}

PlatformServer::~PlatformServer() {
    {
        std::lock_guard<std::mutex> lk(impl_->mu);
        impl_->stopping = true;
    }
    impl_->cv.notify_all();
    impl_->server->stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

int PlatformServer::port() const { return impl_->port; }

std::string PlatformServer::baseUrl() const {
    return std::string(impl_->options.tls ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(impl_->port);
}

std::string PlatformServer::certFile() const { return impl_->certPath; }

void PlatformServer::setReply(const std::string& path, const Reply& reply) {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->replies[path] = reply;
}

void PlatformServer::setHandler(const std::string& path,
                                std::function<Reply(const RecordedRequest&)> handler) {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->handlers[path] = std::move(handler);
}

void PlatformServer::resetReplies() {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->replies.clear();
    impl_->handlers.clear();
}

void PlatformServer::setBroker(const std::string& uri, const std::string& topic) {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->brokerUri = uri;
    impl_->topic = topic;
}

void PlatformServer::setRequestLogger(
    std::function<void(const RecordedRequest&, const Reply&)> logger) {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->logger = std::move(logger);
}

std::vector<RecordedRequest> PlatformServer::requests() const {
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->requests;
}

std::vector<RecordedRequest> PlatformServer::requestsTo(const std::string& path) const {
    std::lock_guard<std::mutex> lk(impl_->mu);
    std::vector<RecordedRequest> out;
    for (const auto& r : impl_->requests)
        if (r.path == path) out.push_back(r);
    return out;
}

size_t PlatformServer::requestCount() const {
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->requests.size();
}

void PlatformServer::clearRequests() {
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->requests.clear();
}

bool PlatformServer::waitForRequests(size_t n, std::chrono::milliseconds timeout,
                                     const std::string& path) const {
    std::unique_lock<std::mutex> lk(impl_->mu);
    return impl_->cv.wait_for(lk, timeout, [&] {
        if (path.empty()) return impl_->requests.size() >= n;
        size_t count = 0;
        for (const auto& r : impl_->requests)
            if (r.path == path) ++count;
        return count >= n;
    });
}

std::string PlatformServer::initReply(const InitSettings& s) {
    const std::string clientId =
        s.clientId.empty() ? "zolvo-test-" + std::to_string(++g_clientIdCounter) : s.clientId;
    return "{\"code\":\"0000\",\"msg\":\"ok\",\"data\":{\"prepaymentType\":1,\"mqttAddress\":\"" +
           jsonEscape(s.uri) + "\",\"mqttUsername\":\"" + jsonEscape(s.username) +
           "\",\"mqttPassword\":\"" + jsonEscape(s.password) + "\",\"mqttClientId\":\"" +
           jsonEscape(clientId) + "\",\"mqttTopic\":\"" + jsonEscape(s.topic) +
           "\",\"mqttQos\":1,\"mqttTimeout\":" + std::to_string(s.receiveTimeoutMs) +
           ",\"mqttConnectTimeout\":3,\"mqttKeepAliveInterval\":20,\"mqttCleanSession\":1,"
           "\"useSslTls\":0,\"sslTlsVersion\":\"" +
           jsonEscape(s.sslTlsVersion) + "\"}}";
}

std::string PlatformServer::defaultInitReply(const std::string& brokerUri,
                                             const std::string& topic) {
    InitSettings settings;
    settings.uri = brokerUri;
    settings.topic = topic;
    return initReply(settings);
}

// ---------------------------------------------------------------- signatures

std::vector<std::pair<std::string, std::string>> parseForm(const std::string& formText) {
    std::vector<std::pair<std::string, std::string>> out;
    if (formText.empty()) return out;
    size_t pos = 0;
    for (;;) {
        size_t amp = formText.find('&', pos);
        std::string pair =
            formText.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        size_t eq = pair.find('=');
        if (eq == std::string::npos) out.emplace_back(pair, std::string());
        else out.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return out;
}

bool checkSign(const std::string& formText, const std::string& key) {
    const std::string marker = "&sign=";
    size_t at = formText.rfind(marker);
    if (at == std::string::npos) return false;
    std::string sign = formText.substr(at + marker.size());
    if (sign.size() != 32) return false;
    return opensslMd5Hex(formText.substr(0, at) + "&key=" + key) == sign;
}

std::string formFromParts(const std::vector<Part>& parts) {
    std::string out;
    for (const auto& p : parts) {
        if (p.name == "fileImage") continue;
        if (!out.empty()) out += '&';
        out += p.name + "=" + p.contents;
    }
    return out;
}

std::string wireForm(const RecordedRequest& request) {
    return request.multipart ? formFromParts(request.parts) : request.body;
}

}  // namespace rig
