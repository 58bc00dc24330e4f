// Publishes numbered prePay commands, each stamped with its publish time
// (CLOCK_MONOTONIC, ns) in its orderId "<seq>-<ns>". Runs in a process of its
// own so that the receiving process holds a single Paho client.
//   bench_publisher --uri tcp://127.0.0.1:PORT --topic T --count N [--qos 1] [--pace-us 0]
#include <MQTTClient.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>

namespace {

int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void sleepUntil(int64_t ns) {
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000LL);
    ts.tv_nsec = static_cast<long>(ns % 1000000000LL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string uri, topic;
    long count = 0, qos = 1, paceUs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--uri") uri = value;
        else if (name == "--topic") topic = value;
        else if (name == "--count") count = std::atol(value);
        else if (name == "--qos") qos = std::atol(value);
        else if (name == "--pace-us") paceUs = std::atol(value);
    }
    if (uri.empty() || topic.empty() || count <= 0) {
        std::fprintf(
            stderr,
            "usage: bench_publisher --uri URI --topic T --count N [--qos Q] [--pace-us U]\n");
        return 2;
    }

    MQTTClient client;
    const std::string clientId = "zolvo-bench-pub-" + std::to_string(getpid());
    if (MQTTClient_create(&client, uri.c_str(), clientId.c_str(), MQTTCLIENT_PERSISTENCE_NONE,
                          nullptr) != MQTTCLIENT_SUCCESS)
        return 1;
    MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
    options.keepAliveInterval = 20;
    options.cleansession = 1;
    options.maxInflightMessages = 1000;
    int rc = MQTTClient_connect(client, &options);
    if (rc != MQTTCLIENT_SUCCESS) {
        std::fprintf(stderr, "publisher: connect failed %d\n", rc);
        MQTTClient_destroy(&client);
        return 1;
    }

    std::deque<MQTTClient_deliveryToken> pending;
    const int64_t start = nowNs();
    long failures = 0;
    for (long i = 0; i < count; ++i) {
        if (paceUs > 0) sleepUntil(start + static_cast<int64_t>(i) * paceUs * 1000);
        char payload[256];
        const int length = std::snprintf(
            payload, sizeof payload,
            "{\"command\":\"prePay\",\"orderId\":\"%ld-%lld\",\"carNumber\":\"A12345B\","
            "\"parkCode\":\"201808150001\"}",
            i, static_cast<long long>(nowNs()));
        MQTTClient_message message = MQTTClient_message_initializer;
        message.payload = payload;
        message.payloadlen = length;
        message.qos = static_cast<int>(qos);
        MQTTClient_deliveryToken token = 0;
        for (;;) {
            rc = MQTTClient_publishMessage(client, topic.c_str(), &message, &token);
            if (rc != MQTTCLIENT_MAX_MESSAGES_INFLIGHT || pending.empty()) break;
            MQTTClient_waitForCompletion(client, pending.front(), 5000);
            pending.pop_front();
        }
        if (rc != MQTTCLIENT_SUCCESS) {
            ++failures;
            continue;
        }
        if (qos > 0) pending.push_back(token);
    }
    for (MQTTClient_deliveryToken token : pending)
        MQTTClient_waitForCompletion(client, token, 5000);
    MQTTClient_disconnect(client, 1000);
    MQTTClient_destroy(&client);
    if (failures > 0) std::fprintf(stderr, "publisher: %ld publishes failed\n", failures);
    return failures == 0 ? 0 : 1;
}
