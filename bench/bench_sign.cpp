// Signing: the library's Md5 against OpenSSL's EVP MD5 on 64 B, 1 KiB and 64 KiB,
// and signRequest on the pushOrder example, against the same signature built
// with OpenSSL.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "bench_util.h"
#include "md5.h"
#include "signing.h"

namespace {

std::string input(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + 7) & 0xff);
    return s;
}

void BM_LibraryMd5(benchmark::State& state) {
    const std::string message = input(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        zolvo_sdk::Md5 md5(message);
        benchmark::DoNotOptimize(md5.digest());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The best a host does with OpenSSL: one context reused for every digest.
void BM_OpenSslMd5(benchmark::State& state) {
    const std::string message = input(static_cast<size_t>(state.range(0)));
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const EVP_MD* md = EVP_md5();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int outLength = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, message.data(), message.size());
        EVP_DigestFinal_ex(ctx, out, &outLength);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_LibraryMd5)->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK(BM_OpenSslMd5)->Arg(64)->Arg(1024)->Arg(65536);

// The pushOrder example: the form text of order 201808310001 (plate in GBK) and a key.
const std::string& pushOrderForm() {
    static const std::string form =
        "carNumber=" + bench::toGbk("陕A88888") +
        "&duration=3600&inChannel=0001&inTime=20180831123056&orderAmount=300"
        "&orderId=201808310001&outChannel=A4&outTime=20180831133056"
        "&parkCode=201808150001&sysCode=0001";
    return form;
}
const std::string kKey = "1a2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d";

void BM_LibrarySignPushOrder(benchmark::State& state) {
    const std::string& form = pushOrderForm();
    for (auto _ : state) benchmark::DoNotOptimize(zolvo_sdk::signRequest(form, kKey));
}

// The same signed text built on OpenSSL, as a host without the library would.
void BM_OpenSslSignPushOrder(benchmark::State& state) {
    const std::string& form = pushOrderForm();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const EVP_MD* md = EVP_md5();
    static const char kDigits[] = "0123456789ABCDEF";
    for (auto _ : state) {
        const std::string signData = form + "&key=" + kKey;
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int outLength = 0;
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, signData.data(), signData.size());
        EVP_DigestFinal_ex(ctx, out, &outLength);
        std::string signedText = form + "&sign=";
        for (unsigned int i = 0; i < outLength; ++i) {
            signedText += kDigits[out[i] >> 4];
            signedText += kDigits[out[i] & 15];
        }
        benchmark::DoNotOptimize(signedText);
    }
    EVP_MD_CTX_free(ctx);
}

BENCHMARK(BM_LibrarySignPushOrder);
BENCHMARK(BM_OpenSslSignPushOrder);

}  // namespace

BENCHMARK_MAIN();
