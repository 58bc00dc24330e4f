// Helpers of the rig: encodings, temporary directories, captured output, ports.
#include "rig.h"
#include "rig_internal.h"

#include <QByteArray>
#include <QString>
#include <QTextCodec>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace rig {

namespace {

const char kTempPrefix[] = "zolvo-rig-";

QTextCodec* gbkCodec() {
    QTextCodec* codec = QTextCodec::codecForName("GBK");
    if (!codec) throw std::runtime_error("rig: Qt has no GBK codec");
    return codec;
}

// Removes what earlier test processes that died without cleaning up left in /tmp:
// entries named zolvo-rig-<pid>-… whose process no longer exists.
void sweepStaleTemp() {
    DIR* dir = opendir("/tmp");
    if (!dir) return;
    std::vector<std::string> stale;
    while (dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (std::strncmp(name, kTempPrefix, sizeof kTempPrefix - 1) != 0) continue;
        char* end = nullptr;
        long pid = std::strtol(name + sizeof kTempPrefix - 1, &end, 10);
        if (pid <= 0 || !end || *end != '-') continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        stale.push_back(std::string("/tmp/") + name);
    }
    closedir(dir);
    for (const auto& p : stale) {
        std::error_code ec;
        std::filesystem::remove_all(p, ec);
    }
}

}  // namespace

namespace detail {

std::string tempPattern(const std::string& what) {
    return "/tmp/" + std::string(kTempPrefix) + std::to_string(getpid()) + "-" + what + "XXXXXX";
}

void atLoad() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Loopback must stay loopback: no proxy of the environment applies to the rig's servers.
        for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY",
                              "all_proxy", "ftp_proxy", "FTP_PROXY"})
            unsetenv(v);
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        // A broken pipe to a client that went away must not end the test process.
        signal(SIGPIPE, SIG_IGN);
        sweepStaleTemp();
    });
}

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("rig: socket() failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        throw std::runtime_error("rig: no free loopback port");
    }
    close(fd);
    return ntohs(a.sin_port);
}

bool acceptsConnections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

}  // namespace detail

std::string readFile(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

// ---------------------------------------------------------------- encodings

std::string utf8ToGbk(const std::string& utf8) {
    QString s = QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size()));
    QByteArray b = gbkCodec()->fromUnicode(s);
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

std::string gbkToUtf8(const std::string& gbk) {
    QString s = gbkCodec()->toUnicode(gbk.data(), static_cast<int>(gbk.size()));
    QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

std::string resultText(const std::string& code, const std::string& msgUtf8) {
    return "{\"code\":\"" + code + "\",\"msg\":\"" + utf8ToGbk(msgUtf8) + "\"}";
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (i) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// ---------------------------------------------------------------- temp dir

TempDir::TempDir() {
    detail::atLoad();
    std::string pattern = detail::tempPattern("dir-");
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("rig: mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& contents) const {
    std::string full = path_ + "/" + name;
    FILE* f = std::fopen(full.c_str(), "wb");
    if (!f) throw std::runtime_error("rig: cannot write " + full);
    bool ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) throw std::runtime_error("rig: cannot write " + full);
    return full;
}

// ---------------------------------------------------------------- output capture

struct OutputCapture::Impl {
    int fd = -1;
    int saved = -1;
    int file = -1;
    std::string path;
};

namespace {
void flushAll() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}
}  // namespace

OutputCapture::OutputCapture(int fd) : impl_(new Impl) {
    if (fd != 1 && fd != 2) throw std::invalid_argument("rig: OutputCapture takes 1 or 2");
    detail::atLoad();
    std::string pattern = detail::tempPattern("out-");
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    impl_->file = mkstemp(buf.data());
    if (impl_->file < 0) throw std::runtime_error("rig: mkstemp failed");
    impl_->path = buf.data();
    impl_->fd = fd;
    flushAll();
    impl_->saved = dup(fd);
    if (impl_->saved < 0 || dup2(impl_->file, fd) < 0) {
        close(impl_->file);
        unlink(impl_->path.c_str());
        throw std::runtime_error("rig: cannot redirect output");
    }
}

OutputCapture::~OutputCapture() {
    flushAll();
    dup2(impl_->saved, impl_->fd);
    close(impl_->saved);
    close(impl_->file);
    unlink(impl_->path.c_str());
}

std::string OutputCapture::text() const {
    flushAll();
    // Read through a descriptor of our own so that the writers' offset is untouched.
    return readFile(impl_->path);
}

bool OutputCapture::waitFor(const std::string& needle, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return text().find(needle) != std::string::npos; }, timeout);
}

// ---------------------------------------------------------------- ports, waiting

int closedPort() { return detail::freePort(); }

size_t occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace rig
