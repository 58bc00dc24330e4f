// A local platform for trying the demo by hand: answers the ten endpoints like
// the rig's in-process server and prints one line per request.
//   zolvo_platform --port 18080 --broker tcp://127.0.0.1:18830 --topic zolvo/demo/commands
#include "rig.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

void usage() {
    std::fprintf(
        stderr,
        "usage: zolvo_platform [--port N] [--broker URI] [--topic TOPIC]\n"
        "  --port N      listen on 127.0.0.1:N (default 18080)\n"
        "  --broker URI  broker named in the init reply (default tcp://127.0.0.1:18830)\n"
        "  --topic T     command topic named in the init reply (default zolvo/demo/commands)\n");
}

std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 18080;
    std::string broker = "tcp://127.0.0.1:18830";
    std::string topic = "zolvo/demo/commands";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--port" && hasValue) {
            port = std::atoi(argv[++i]);
        } else if (a == "--broker" && hasValue) {
            broker = argv[++i];
        } else if (a == "--topic" && hasValue) {
            topic = argv[++i];
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }
    if (port <= 0 || port > 65535) {
        usage();
        return 2;
    }

    // Signals are taken by sigwait below, not by the server's threads.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        rig::PlatformServer::Options options;
        options.port = port;
        rig::PlatformServer server(options);
        server.setBroker(broker, topic);
        server.setRequestLogger([](const rig::RecordedRequest& r, const rig::Reply& reply) {
            std::string line = r.method + " " + r.target + " -> " + std::to_string(reply.status);
            if (r.multipart) {
                line += " multipart:";
                for (const auto& p : r.parts) {
                    line += " " + p.name + "=";
                    line += p.filename.empty() ? printable(p.contents)
                                               : "<file " + p.filename + ", " +
                                                     std::to_string(p.contents.size()) + " bytes>";
                }
            } else if (!r.body.empty()) {
                line += " body: " + printable(r.body);
            }
            std::cout << line << std::endl;
        });
        std::cout << "platform listening on " << server.baseUrl() << " (broker " << broker
                  << ", topic " << topic << ")" << std::endl;
        int sig = 0;
        sigwait(&stopSignals, &sig);
        std::cout << "platform stopping (signal " << sig << ")" << std::endl;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zolvo_platform: %s\n", e.what());
        return 1;
    }
    return 0;
}
