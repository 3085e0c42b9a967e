// SPDX-License-Identifier: GPL-3.0-or-later
// Rules manifests from arbitrary bytes. Decoding never throws; whatever decodes encodes to text that
// decodes to the same record (so the copy kept in an installed bundle reads back as it was
// fetched); and validation ends in nothing or its own error, never anything else. The same bytes as
// a desktop release file: decoding never throws, and its links are kept only on the update origin.
#include "core/foundation/URLComponents.h"
#include "core/updates/DesktopUpdateChecker.h"
#include "core/updates/RuleUpdateError.h"
#include "core/updates/RuleUpdateManifest.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessaril;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        if (const auto release = DesktopReleasePayload::decode(text)) {
            for (const auto& link : {release->desktop.notesUrl, release->desktop.downloadUrl}) {
                const auto kept = DesktopUpdateChecker::trusted(link);
                const auto components = kept ? URLComponents::parse(*kept) : std::nullopt;
                FUZZ_CHECK(!kept || (components && components->scheme() == "https" &&
                                     components->percentEncodedHost() == StaticUpdateSession::originHost));
            }
        }
        const auto manifest = RuleUpdateManifest::decode(text);
        if (!manifest) return 0;
        const auto again = RuleUpdateManifest::decode(manifest->encode());
        FUZZ_CHECK(again == manifest);
        try {
            manifest->validate(RuleUpdateManifest::supportedSchemaVersion);
            FUZZ_CHECK(manifest->clearURLsFile() != nullptr && manifest->supplementaryFile() != nullptr);
        } catch (const RuleUpdateError& error) {
            FUZZ_CHECK(error.kind() == RuleUpdateError::Kind::invalidManifest);
        }
    } catch (...) {
        fuzz::propertyFailed("a manifest made decoding, encoding or validation throw", __FILE__, __LINE__);
    }
    return 0;
}
