// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversions/MapLinkTransformer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace tessaril {
namespace {

std::optional<std::string> converted(std::string_view link) {
    auto transformation = MapLinkTransformer::transform(link);
    return transformation ? std::optional(transformation->url) : std::nullopt;
}

// Each shape both services understand converts exactly; every other is refused, not approximated.
// (That a conversion is a plain https link of the other service that converts back, and how its step
// is recorded, the link-transform fuzzer checks on every conversion.)
TEST(MapLinkTransformerTest, ConvertsExactlyOrNotAtAll) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"https://maps.apple.com/?saddr=Home&daddr=Work&dirflg=w",
         "https://www.google.com/maps/dir/?api=1&origin=Home&destination=Work&travelmode=walking"},
        // The direction flag is compared exactly; an unknown one is refused, not dropped.
        {"https://maps.apple.com/?daddr=Work&dirflg=W", std::nullopt},
        {"https://maps.apple.com/?daddr=Work&dirflg=b", std::nullopt},
        // A blank origin is left out; a blank destination is no directions link at all.
        {"https://maps.apple.com/?saddr=%20&daddr=Work", "https://www.google.com/maps/dir/?api=1&destination=Work"},
        {"https://maps.apple.com/?saddr=Home&daddr=%20", std::nullopt},
        // Coordinates: a zoom needs a label to survive, and must lie within 0...22.
        {"https://maps.apple.com/?ll=50.1,-8.5&z=22&q=Cafe", "https://www.google.com/maps/search/Cafe/@50.1,-8.5,22z"},
        {"https://maps.apple.com/?ll=50.1,-8.5&z=2.5&q=Cafe",
         "https://www.google.com/maps/search/Cafe/@50.1,-8.5,2.5z"},
        {"https://maps.apple.com/?ll=50.1,-8.5&z=22.5&q=Cafe", std::nullopt},
        {"https://maps.apple.com/?ll=50.1,-8.5&z=-1&q=Cafe", std::nullopt},
        {"https://maps.apple.com/?ll=5e1,+8&z=3", "https://www.google.com/maps/search/?api=1&query=5e1,+8"},
        {"https://maps.apple.com/?q=Cafe&ll=50.1,-8.5",
         "https://www.google.com/maps/search/?api=1&query=Cafe%2050.1,-8.5"},
        // Malformed pairs are no coordinates, and the search shape then refuses the "ll".
        {"https://maps.apple.com/?q=Cafe&ll=50.1,-8.5,3", std::nullopt},
        {"https://maps.apple.com/?q=Cafe&ll=50.1%20,8", std::nullopt},
        // A search takes "q" or "address", not both, and nothing else, not even a zoom.
        {"https://maps.apple.com/?address=1%20Main%20St",
         "https://www.google.com/maps/search/?api=1&query=1%20Main%20St"},
        {"https://maps.apple.com/?q=a&address=b", std::nullopt},
        {"https://maps.apple.com/?q=a&z=3", std::nullopt},
        {"https://maps.apple.com/?q=a&sll=1,2", std::nullopt},
        {"https://maps.apple.com/?q=%20%0A", std::nullopt},
        // The first value of a name counts; a bare name is not a parameter.
        {"https://maps.apple.com/?q=first&q=second&flag", "https://www.google.com/maps/search/?api=1&query=first"},
        // Values keep their bytes: "+" and "%2B" stay apart, and a label's "/" cannot add a path segment.
        {"https://maps.apple.com/?q=Caf%C3%A9+Bar%2B",
         "https://www.google.com/maps/search/?api=1&query=Caf%C3%A9+Bar%2B"},
        {"https://maps.apple.com/?q=a%2Fb/c?d&ll=1,2&z=3", "https://www.google.com/maps/search/a%2Fb%2Fc%3Fd/@1,2,3z"},
        {"HTTPS://maps.apple.com?q=a", "https://www.google.com/maps/search/?api=1&query=a"},
        // And back.
        {"https://google.com/?query=a", "https://maps.apple.com/?q=a"},
        {"https://www.google.com/maps/dir/?api=1&origin=Home&destination=Work&travelmode=TRANSIT",
         "https://maps.apple.com/?saddr=Home&daddr=Work&dirflg=r"},
        {"https://www.google.com/maps/dir?destination=Work", "https://maps.apple.com/?daddr=Work"},
        {"https://www.google.com/maps/dir/?api=2&destination=Work", std::nullopt},
        {"https://www.google.com/maps/dir/?destination=Work&travelmode=flying", std::nullopt},
        // Without a destination the directions path is only a search.
        {"https://www.google.com/maps/dir/?api=1&query=Cafe", "https://maps.apple.com/?q=Cafe"},
        {"https://www.google.com/maps/search/Caf%C3%A9+%26+Bar/@50.1,-8.5,15z",
         "https://maps.apple.com/?q=Caf%C3%A9+%26+Bar&ll=50.1,-8.5&z=15"},
        {"https://www.google.com/maps/search/Cafe/@50.1,-8.5,15z?hl=en", std::nullopt},
        {"https://www.google.com/maps/search/Cafe/@50.1,-8.5,23z", std::nullopt},
        {"https://www.google.com/maps/search/Cafe/@50.1,-8.5,15", std::nullopt},
        {"https://www.google.com/maps/search/?api=1&query=50.1,-8.5", "https://maps.apple.com/?ll=50.1,-8.5"},
        {"https://www.google.com/maps/search/?api=1&query=Cafe%20Bar", "https://maps.apple.com/?q=Cafe%20Bar"},
        {"https://www.google.com/maps/search/?api=1&query=Cafe&query_place_id=ChIJ", std::nullopt},
        {"https://www.google.com/maps/dir/?destination=Work&query_place_id=ChIJ", std::nullopt},
        {"https://www.google.com/maps/search/?api=1", std::nullopt},
    };
    for (const auto& [link, expected] : cases)
        EXPECT_EQ(converted(link), expected) << link;
}

TEST(MapLinkTransformerTest, OnlyPlainHttpsLinksOfEitherServiceAreConverted) {
    for (const char* host : {"google.com", "maps.google.com", "www.google.de", "www.google.co.uk", "WWW.Google.COM"})
        EXPECT_EQ(converted(std::string("https://") + host + "/maps?query=Cafe"), "https://maps.apple.com/?q=Cafe")
            << host;
    for (const char* link :
         {"http://maps.apple.com/?q=Cafe", "https://maps.apple.com:443/?q=Cafe", "https://maps.apple.com:/?q=Cafe",
          "https://me@maps.apple.com/?q=Cafe", "https://:pw@www.google.com/maps?query=Cafe",
          "https://maps.apple.com.example/?q=Cafe", "https://apple.com/?q=Cafe", "https://www.google./maps?query=Cafe",
          "https://google.com.example/maps?query=Cafe", "https://notgoogle.com/maps?query=Cafe",
          "maps.apple.com/?q=Cafe", "https://maps.apple.com/?q=Caf%FF"}) {
        EXPECT_EQ(converted(link), std::nullopt) << link;
    }
}

}  // namespace
}  // namespace tessaril
