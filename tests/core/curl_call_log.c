/* A preload library for the transport's call-order test: it stands in front of
 * libcurl and the C library's fopen/fclose, writes one line per call to the file
 * named by ZOLVO_CURL_CALL_LOG and passes every call on unchanged to the real
 * function (dlsym RTLD_NEXT). Only opens and closes of the path named by
 * ZOLVO_CURL_CALL_LOG_WATCH are logged, whoever makes them; libcurl's calls of
 * its own functions are not. Lines are appended with one write(2)
 * each, so that a child whose standard error goes to the same file (opened for
 * appending) shows its own lines in their place among the calls.
 *
 * Lines:
 *   global_init <flags>            easy_init
 *   setopt <option> <value>        value: a long or curl_off_t in decimal, or
 *                                  "null" / "set" for a pointer
 *   slist_append <text>            slist_free_all <null|set>
 *   easy_perform <result>          getinfo <info>
 *   easy_cleanup                   formfree <null|set>
 *   fopen <mode> <ok|failed>       fclose
 */
#define _GNU_SOURCE
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define ZOLVO_EXPORT __attribute__((visibility("default")))

static void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

static void logLine(const char* format, ...) {
    const char* path = getenv("ZOLVO_CURL_CALL_LOG");
    if (path == NULL || path[0] == '\0') return;
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) return;
    if ((size_t)n > sizeof line - 2) n = (int)(sizeof line - 2);
    line[n++] = '\n';
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t written = write(fd, line, (size_t)n);
    (void)written;
    close(fd);
}

/* The next definition of `name` after this library: libcurl's or the C library's
 * (or a sanitizer's interceptor, when its runtime comes later in the search). */
static void* next(const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (f == NULL) {
        static const char message[] = "curl_call_log: a function to wrap is missing\n";
        ssize_t written = write(2, message, sizeof message - 1);
        (void)written;
        abort();
    }
    return f;
}

/* Whether the code at `caller` belongs to libcurl itself (which calls some of its
 * own interface functions, such as curl_slist_free_all, internally). */
static int fromLibcurl(void* caller) {
    Dl_info callerInfo, curlInfo;
    if (dladdr(caller, &callerInfo) == 0) return 0;
    if (dladdr(next("curl_easy_init"), &curlInfo) == 0) return 0;
    return callerInfo.dli_fbase == curlInfo.dli_fbase;
}

#define LOG_CALL(...)                                                    \
  do {                                                                   \
    if (!fromLibcurl(__builtin_return_address(0))) logLine(__VA_ARGS__); \
  } while (0)

ZOLVO_EXPORT CURLcode curl_global_init(long flags) {
    LOG_CALL("global_init %ld", flags);
    return ((CURLcode(*)(long))next("curl_global_init"))(flags);
}

ZOLVO_EXPORT CURL* curl_easy_init(void) {
    LOG_CALL("easy_init");
    return ((CURL * (*)(void)) next("curl_easy_init"))();
}

/* The one argument after the option has the type that the option's number range
 * gives: long below 10000, a pointer (object, string or function) up to 29999,
 * curl_off_t up to 39999, a pointer (blob) from 40000 on. */
ZOLVO_EXPORT CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
    typedef CURLcode (*Setopt)(CURL*, CURLoption, ...);
    Setopt real = (Setopt)next("curl_easy_setopt");
    va_list args;
    va_start(args, option);
    CURLcode result;
    if (option < 10000) {
        long value = va_arg(args, long);
        LOG_CALL("setopt %d %ld", (int)option, value);
        result = real(handle, option, value);
    } else if (option >= 30000 && option < 40000) {
        curl_off_t value = va_arg(args, curl_off_t);
        LOG_CALL("setopt %d %lld", (int)option, (long long)value);
        result = real(handle, option, value);
    } else {
        void* value = va_arg(args, void*);
        LOG_CALL("setopt %d %s", (int)option, value == NULL ? "null" : "set");
        result = real(handle, option, value);
    }
    va_end(args);
    return result;
}

ZOLVO_EXPORT CURLcode curl_easy_perform(CURL* handle) {
    CURLcode result = ((CURLcode(*)(CURL*))next("curl_easy_perform"))(handle);
    LOG_CALL("easy_perform %d", (int)result);
    return result;
}

ZOLVO_EXPORT CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
    typedef CURLcode (*Getinfo)(CURL*, CURLINFO, ...);
    va_list args;
    va_start(args, info);
    void* target = va_arg(args, void*);
    va_end(args);
    LOG_CALL("getinfo %d", (int)info);
    return ((Getinfo)next("curl_easy_getinfo"))(handle, info, target);
}

ZOLVO_EXPORT void curl_easy_cleanup(CURL* handle) {
    LOG_CALL("easy_cleanup");
    ((void (*)(CURL*))next("curl_easy_cleanup"))(handle);
}

ZOLVO_EXPORT struct curl_slist* curl_slist_append(struct curl_slist* list, const char* text) {
    LOG_CALL("slist_append %s", text == NULL ? "(null)" : text);
    return ((struct curl_slist * (*)(struct curl_slist*, const char*)) next("curl_slist_append"))(
        list, text);
}

ZOLVO_EXPORT void curl_slist_free_all(struct curl_slist* list) {
    LOG_CALL("slist_free_all %s", list == NULL ? "null" : "set");
    ((void (*)(struct curl_slist*))next("curl_slist_free_all"))(list);
}

ZOLVO_EXPORT void curl_formfree(struct curl_httppost* form) {
    LOG_CALL("formfree %s", form == NULL ? "null" : "set");
    ((void (*)(struct curl_httppost*))next("curl_formfree"))(form);
}

/* ---- opens and closes of the watched file */

#define WATCHED_SLOTS 16
static FILE* watched[WATCHED_SLOTS];

static int isWatchedPath(const char* path) {
    const char* watch = getenv("ZOLVO_CURL_CALL_LOG_WATCH");
    return watch != NULL && watch[0] != '\0' && path != NULL && strcmp(path, watch) == 0;
}

static FILE* openedWatched(const char* path, const char* mode, FILE* file) {
    if (!isWatchedPath(path)) return file;
    logLine("fopen %s %s", mode, file == NULL ? "failed" : "ok");
    if (file != NULL) {
        for (int i = 0; i < WATCHED_SLOTS; ++i) {
            FILE* empty = NULL;
            if (__atomic_compare_exchange_n(&watched[i], &empty, file, 0, __ATOMIC_SEQ_CST,
                                            __ATOMIC_SEQ_CST))
                break;
        }
    }
    return file;
}

ZOLVO_EXPORT FILE* fopen(const char* path, const char* mode) {
    FILE* file = ((FILE * (*)(const char*, const char*)) next("fopen"))(path, mode);
    return openedWatched(path, mode, file);
}

ZOLVO_EXPORT FILE* fopen64(const char* path, const char* mode) {
    FILE* file = ((FILE * (*)(const char*, const char*)) next("fopen64"))(path, mode);
    return openedWatched(path, mode, file);
}

ZOLVO_EXPORT int fclose(FILE* file) {
    for (int i = 0; file != NULL && i < WATCHED_SLOTS; ++i) {
        FILE* expected = file;
        if (__atomic_compare_exchange_n(&watched[i], &expected, NULL, 0, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST)) {
            logLine("fclose");
            break;
        }
    }
    return ((int (*)(FILE*))next("fclose"))(file);
}
