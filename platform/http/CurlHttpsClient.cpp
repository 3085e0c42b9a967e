// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/http/CurlHttpsClient.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tessaril {

namespace {

using Clock = std::chrono::steady_clock;

// libcurl is loaded on the first transfer, not linked: linked, it and the thirty libraries it
// brings were loaded and relocated at every start of every command, most of which never go on
// line (about 20 ms of cleaning one link from the command line). Its name is the one its
// interface has kept since 2006.
constexpr const char* kCurlLibrary = "libcurl.so.4";

struct Curl {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_easy_reset) easy_reset = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
    decltype(&curl_url) url = nullptr;
    decltype(&curl_url_cleanup) url_cleanup = nullptr;
    decltype(&curl_url_get) url_get = nullptr;
    decltype(&curl_url_set) url_set = nullptr;
    decltype(&curl_free) free = nullptr;
    bool loaded = false;
};

// The library's functions, loaded and initialised once; `loaded` is false when it cannot be.
const Curl& curl() {
    static const Curl api = [] {
        Curl functions;
        void* library = dlopen(kCurlLibrary, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return functions;
        const auto bind = [library](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(library, name));
            return slot != nullptr;
        };
        functions.loaded =
            bind(functions.global_init, "curl_global_init") && bind(functions.easy_init, "curl_easy_init") &&
            bind(functions.easy_cleanup, "curl_easy_cleanup") && bind(functions.easy_reset, "curl_easy_reset") &&
            bind(functions.easy_setopt, "curl_easy_setopt") && bind(functions.easy_perform, "curl_easy_perform") &&
            bind(functions.easy_getinfo, "curl_easy_getinfo") && bind(functions.slist_append, "curl_slist_append") &&
            bind(functions.slist_free_all, "curl_slist_free_all") && bind(functions.url, "curl_url") &&
            bind(functions.url_cleanup, "curl_url_cleanup") && bind(functions.url_get, "curl_url_get") &&
            bind(functions.url_set, "curl_url_set") && bind(functions.free, "curl_free");
        if (functions.loaded) functions.loaded = functions.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        return functions;
    }();
    return api;
}
using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using Headers = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

bool isRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// A header line's value: what follows the name and colon (`nameLength` bytes), without the blanks
// and line break around it.
std::string_view headerValue(std::string_view line, std::size_t nameLength) {
    std::string_view value = line.substr(nameLength);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    value.remove_suffix(value.size() - (value.find_last_not_of(" \t\r\n") + 1));
    return value;
}

// What the callbacks learn of one response while curl reads it.
struct Response {
    CURL* easy = nullptr;
    const HttpsRequest* request = nullptr;
    // The Location header's value, when the response has one.
    std::optional<std::string> location;
    std::optional<curl_off_t> declaredLength;
    // The transfer was ended on purpose once the headers were in (a redirect, or no body wanted).
    bool endedAfterHeaders = false;
    bool tooLarge = false;
    std::string body;
};

std::size_t onHeaderLine(char* data, std::size_t size, std::size_t count, void* context) {
    auto& response = *static_cast<Response*>(context);
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    if (startsWithIgnoringCase(line, "HTTP/")) {
        response.location.reset();
        response.declaredLength.reset();
    } else if (startsWithIgnoringCase(line, "location:")) {
        response.location = headerValue(line, 9);
    } else if (startsWithIgnoringCase(line, "content-length:")) {
        const std::string_view digits = headerValue(line, 15);
        curl_off_t value = 0;
        if (std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc{}) {
            response.declaredLength = value;
        }
    } else if (line == "\r\n" || line == "\n") {
        long status = 0;
        curl().easy_getinfo(response.easy, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200) return length;  // an interim response; the real one follows
        if ((isRedirect(status) && response.location) || response.request->skipsBody) {
            response.endedAfterHeaders = true;
            return 0;
        }
        if (response.declaredLength &&
            static_cast<std::uint64_t>(*response.declaredLength) > response.request->bodyLimit) {
            response.tooLarge = true;
            return 0;
        }
    }
    return length;
}

std::size_t onBodyBytes(char* data, std::size_t size, std::size_t count, void* context) {
    auto& response = *static_cast<Response*>(context);
    const std::size_t length = size * count;
    if (response.body.size() + length > response.request->bodyLimit) {
        response.tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    response.body.append(data, length);
    return length;
}

using ParsedURL = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

std::optional<std::string> part(const ParsedURL& url, CURLUPart which) {
    char* text = nullptr;
    if (!url || curl().url_get(url.get(), which, &text, 0) != CURLUE_OK) return std::nullopt;
    std::string copy(text);
    curl().free(text);
    return copy;
}

// Blanks and bytes outside ASCII as %XX, the way browsers send what servers and people write
// unencoded; everything else, escapes included, stays as it is.
std::string withBlanksEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ' || byte >= 0x80) {
            encoded += {'%', kHex[byte >> 4], kHex[byte & 15]};
        } else {
            encoded += c;
        }
    }
    return encoded;
}

// `reference` parsed by curl's own URL parser, resolved against `base` when one is given; nothing
// when either is malformed.
ParsedURL parsedURL(std::string_view reference, const std::string* base = nullptr) {
    ParsedURL url(curl().url(), curl().url_cleanup);
    if (!url || (base && curl().url_set(url.get(), CURLUPART_URL, base->c_str(), 0) != CURLUE_OK) ||
        curl().url_set(url.get(), CURLUPART_URL, withBlanksEncoded(reference).c_str(), 0) != CURLUE_OK) {
        url.reset();
    }
    return url;
}

// The link as curl will send it, when it is an https link without user name or password.
std::optional<std::string> sendableURL(std::string_view url) {
    const ParsedURL parsed = parsedURL(url);
    if (!parsed || part(parsed, CURLUPART_SCHEME) != "https" || part(parsed, CURLUPART_USER) ||
        part(parsed, CURLUPART_PASSWORD)) {
        return std::nullopt;
    }
    return part(parsed, CURLUPART_URL);
}

HttpsError errorFor(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return HttpsError::timedOut;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return HttpsError::invalidURL;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return HttpsError::tlsFailed;
        default:
            return HttpsError::connectionFailed;
    }
}

long clampedMilliseconds(Clock::duration duration) {
    return static_cast<long>(
        std::max<std::int64_t>(1, std::chrono::duration_cast<std::chrono::milliseconds>(duration).count()));
}

// The request's headers in curl's form; nothing when memory ran out.
std::optional<Headers> headerList(const HttpsRequest& request) {
    Headers list(nullptr, curl().slist_free_all);
    for (const auto& [name, value] : request.headers) {
        std::string line = name;
        line.append(": ").append(value);
        curl_slist* longer = curl().slist_append(list.get(), line.c_str());
        if (!longer) return std::nullopt;
        static_cast<void>(list.release());
        list.reset(longer);
    }
    return list;
}

// One GET of `url`, an ephemeral transfer that ends within `remaining`, read into `response`.
void configure(CURL* handle, const std::string& url, Clock::duration remaining, curl_slist* headers,
               Response& response) {
    const HttpsRequest& request = *response.request;
    curl().easy_reset(handle);
    curl().easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl().easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl().easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl().easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl().easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl().easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    // No cookie engine is ever started (no CURLOPT_COOKIEFILE), and no credential is looked up.
    curl().easy_setopt(handle, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    curl().easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl().easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl().easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl().easy_setopt(handle, CURLOPT_TIMEOUT_MS, clampedMilliseconds(remaining));
    curl().easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                       clampedMilliseconds(std::min<Clock::duration>(remaining, request.idleTimeout)));
    // A transfer slower than a byte a second for the idle time is stalled.
    curl().easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl().easy_setopt(handle, CURLOPT_LOW_SPEED_TIME,
                       static_cast<long>(std::max<std::int64_t>(
                           1, std::chrono::ceil<std::chrono::seconds>(request.idleTimeout).count())));
    curl().easy_setopt(handle, CURLOPT_HEADERFUNCTION, &onHeaderLine);
    curl().easy_setopt(handle, CURLOPT_HEADERDATA, &response);
    curl().easy_setopt(handle, CURLOPT_WRITEFUNCTION, &onBodyBytes);
    curl().easy_setopt(handle, CURLOPT_WRITEDATA, &response);
}

}  // namespace

CurlHttpsClient::CurlHttpsClient(std::optional<LoopbackNetwork> testNetwork) : testNetwork_(std::move(testNetwork)) {}

HttpsResult CurlHttpsClient::get(const HttpsRequest& request, const RedirectPolicy& policy) {
    if (!curl().loaded) return HttpsError::connectionFailed;
    const Easy easy(curl().easy_init(), curl().easy_cleanup);
    const auto headers = headerList(request);
    const Headers loopback(
        testNetwork_ ? curl().slist_append(nullptr, ("::127.0.0.1:" + std::to_string(testNetwork_->port)).c_str())
                     : nullptr,
        curl().slist_free_all);
    if (!easy || !headers || (testNetwork_ && !loopback)) return HttpsError::connectionFailed;

    const auto deadline = Clock::now() + request.totalTimeout;
    std::string url = request.url;
    for (int redirects = 0;; ++redirects) {
        const auto sendable = sendableURL(url);
        if (!sendable) return HttpsError::invalidURL;
        const auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) return HttpsError::timedOut;

        Response response;
        response.easy = easy.get();
        response.request = &request;
        configure(easy.get(), *sendable, remaining, headers->get(), response);
        if (testNetwork_) {
            curl_blob authority{testNetwork_->certificateAuthority.data(), testNetwork_->certificateAuthority.size(),
                                CURL_BLOB_COPY};
            curl().easy_setopt(easy.get(), CURLOPT_CAINFO_BLOB, &authority);
            curl().easy_setopt(easy.get(), CURLOPT_CAINFO, nullptr);
            curl().easy_setopt(easy.get(), CURLOPT_CAPATH, nullptr);
            curl().easy_setopt(easy.get(), CURLOPT_CONNECT_TO, loopback.get());
            curl().easy_setopt(easy.get(), CURLOPT_PROXY, "");
        }

        const CURLcode code = curl().easy_perform(easy.get());
        if (response.tooLarge) return HttpsError::tooLarge;
        if (code != CURLE_OK && !response.endedAfterHeaders) return errorFor(code);
        long status = 0;
        curl().easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
        if (!isRedirect(status) || !response.location) {
            return HttpsResponse{url, static_cast<int>(status), std::move(response.body), redirects};
        }
        // Resolved by curl's own URL parser, as curl would resolve it to follow it.
        const HttpsRedirect redirect{static_cast<int>(status), url,
                                     part(parsedURL(*response.location, &*sendable), CURLUPART_URL)};
        if (policy(redirect) == RedirectDecision::stop) {
            return HttpsResponse{url, static_cast<int>(status), {}, redirects};
        }
        if (!redirect.location) return HttpsError::invalidURL;
        url = *redirect.location;
    }
}

}  // namespace tessaril
