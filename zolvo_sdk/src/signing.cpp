// The request signature and the init nonce.
#include "signing.h"

#include <mutex>
#include <random>

#include "md5.h"
#include "never_destroyed.h"

namespace zolvo_sdk {

std::string signRequest(const std::string& formText, const std::string& key) {
    const std::string signData = formText + "&key=" + key;
    Md5 md5(signData);
    return formText + "&sign=" + md5.toUpperHex();
}

// The nonce draws from its own generator, seeded once per process from the
// system's entropy source, so that two nonces made in the same second differ and
// the host's rand() sequence is left alone.
std::string Util::randomString() {
    static const char kAlphabet[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static NeverDestroyed<std::mutex> mutex;
    static NeverDestroyed<std::mt19937> generator([] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937(seed);
    }());
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kAlphabet) - 2);

    std::string nonce(32, '0');
    std::lock_guard<std::mutex> lock(mutex.get());
    for (char& c : nonce) c = kAlphabet[pick(generator.get())];
    return nonce;
}

}  // namespace zolvo_sdk
