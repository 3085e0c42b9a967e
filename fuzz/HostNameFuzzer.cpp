// SPDX-License-Identifier: GPL-3.0-or-later
// The host rule the user's lists share, on arbitrary bytes. Beyond "no crash": an accepted name is
// short lower-case ASCII and already in its own canonical form; it is a host a link can carry, and
// that link's host means the same site to the exception list; the site exceptions accept exactly
// what the rule accepts (after trimming and dropping one "www.").
#include "core/stores/DomainExceptionStore.h"
#include "core/stores/HostName.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tessaril::DomainExceptionStore;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto canonical = tessaril::canonicalHostName(text);
    if (canonical) {
        FUZZ_CHECK(!canonical->empty() && canonical->size() <= 253);
        for (const char c : *canonical)
            FUZZ_CHECK(c > ' ' && c < 0x7f && !(c >= 'A' && c <= 'Z'));
        FUZZ_CHECK(tessaril::canonicalHostName(*canonical) == canonical);
        FUZZ_CHECK(DomainExceptionStore::normalizedHost("http://" + *canonical + "/") ==
                   DomainExceptionStore::normalize(*canonical));
    }
    const auto normalized = DomainExceptionStore::normalize(text);
    if (normalized) FUZZ_CHECK(tessaril::canonicalHostName(*normalized) == normalized);
    // Without blanks around it or a "www." in front, a text is an exception exactly when it is a site.
    const auto plainAscii = [](char c) { return c > ' ' && c < 0x7f; };
    if (!text.empty() && plainAscii(text.front()) && plainAscii(text.back()) && text.front() != 'w' &&
        text.front() != 'W') {
        FUZZ_CHECK(normalized == canonical);
    }
    return 0;
}
