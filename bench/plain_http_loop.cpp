// SPDX-License-Identifier: GPL-3.0-or-later
// The floor for bench/scale.sh: N GET requests to URL_PREFIX1 ... URL_PREFIXN
// made by one plain loop over the libcurl multi interface, INFLIGHT of them
// at a time. Each request gets an easy handle of its own and a connection of
// its own, as each check of the program does, so the two do the same network
// work and what the program adds on top is its own machinery.
//
//     plain_http_loop URL_PREFIX N INFLIGHT
//
// Prints the wall time in seconds on standard output. Exits 1 when any
// request fails or is answered with a status other than 200: a floor made of
// failed requests would flatter the program.

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr long kTimeoutMs = 10000;

size_t DiscardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

bool ParseCount(const char* text, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out > 0;
}

// Adds the request for URL_PREFIX<index> to the multi handle.
bool Start(CURLM* multi, const std::string& prefix, long index, curl_slist* headers) {
    CURL* h = curl_easy_init();
    if (h == nullptr) {
        std::fprintf(stderr, "curl_easy_init failed\n");
        return false;
    }
    const std::string url = prefix + std::to_string(index);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());  // libcurl copies the text
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, kTimeoutMs);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    // The multi handle would otherwise keep connections open and reuse them,
    // which the program's checks never do.
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    if (curl_multi_add_handle(multi, h) != CURLM_OK) {
        std::fprintf(stderr, "curl_multi_add_handle failed\n");
        curl_easy_cleanup(h);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    long total = 0;
    long inFlight = 0;
    if (argc != 4 || !ParseCount(argv[2], total) || !ParseCount(argv[3], inFlight)) {
        std::fprintf(stderr, "Usage: plain_http_loop URL_PREFIX N INFLIGHT\n");
        return 2;
    }
    const std::string prefix = argv[1];
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLM* multi = curl_multi_init();
    // The same request head as a check sends for a URL record: no Accept
    // or Expect of libcurl's own.
    curl_slist* headers = curl_slist_append(nullptr, "Accept: text/html");
    headers = curl_slist_append(headers, "Expect:");

    const auto started = std::chrono::steady_clock::now();
    long next = 1;
    long running = 0;
    long done = 0;
    long failed = 0;
    bool ok = true;
    while (ok && done < total) {
        while (ok && running < inFlight && next <= total) {
            ok = Start(multi, prefix, next++, headers);
            running += ok ? 1 : 0;
        }
        int stillRunning = 0;
        if (curl_multi_perform(multi, &stillRunning) != CURLM_OK) {
            std::fprintf(stderr, "curl_multi_perform failed\n");
            ok = false;
        }
        long finishedNow = 0;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg != CURLMSG_DONE) {
                continue;
            }
            CURL* h = msg->easy_handle;
            const CURLcode rc = msg->data.result;
            long code = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
            if (rc != CURLE_OK || code != 200) {
                const char* url = nullptr;
                curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &url);
                // The first few tell what went wrong; thousands would not.
                if (failed < 5) {
                    std::fprintf(stderr, "%s: %s, status %ld\n", url != nullptr ? url : "?",
                                 curl_easy_strerror(rc), code);
                }
                ++failed;
            }
            curl_multi_remove_handle(multi, h);
            curl_easy_cleanup(h);
            --running;
            ++done;
            ++finishedNow;
        }
        // Wait only when nothing finished: otherwise the freed places are
        // filled first, and a wait with no socket open would last the whole
        // timeout.
        if (ok && finishedNow == 0 &&
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            std::fprintf(stderr, "curl_multi_poll failed\n");
            ok = false;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    curl_slist_free_all(headers);
    curl_multi_cleanup(multi);  // any handles still added are left to the exit
    curl_global_cleanup();
    if (!ok) {
        std::fprintf(stderr, "plain_http_loop: stopped after %ld of %ld requests\n", done, total);
        return 1;
    }
    if (failed > 0) {
        std::fprintf(stderr, "plain_http_loop: %ld of %ld requests failed\n", failed, total);
        return 1;
    }
    std::printf("%.3f\n", seconds);
    return 0;
}
