// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Dates.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"
#include "core/report/MissedTrackerReportBuilder.h"
#include "tests/support/Fixtures.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace tessaril {
namespace {

using Builder = MissedTrackerReportBuilder;
using Platform = MissedTrackerReport::Platform;

const Date kCreated = *parseInternetDateTime("2026-12-04T18:10:55Z");

CleanResult trackedClean() {
    CleanResult result;
    result.originalURL = "https://shop.example/item?id=7&utm_source=x&gclid=y";
    result.cleanedURL = "https://shop.example/item?id=7";
    result.paramsRemoved = 2;
    result.matchedRuleIDs = {"Analytics:utm_source", "Advertising:gclid"};
    result.matchedCategories = {RuleCategoryType::analytics, RuleCategoryType::advertising};
    return result;
}

Builder::Installation mac() {
    return {Platform::macOS, "14.2",      "1.2", std::nullopt, MissedTrackerReport::Surface::clipboard,
            std::nullopt,    std::nullopt};
}

TEST(MissedTrackerReportTest, BodyReadsTopToBottomAndEndsWithTheSortedJson) {
    auto installation = mac();
    installation.appBuild = "42";
    installation.rulesProviderCount = 250;
    installation.rulesLastUpdate = *parseInternetDateTime("2026-12-01T23:30:00-02:00");
    const auto report = Builder::build(trackedClean(), installation, "ref= stayed", kCreated);
    EXPECT_EQ(report.subject(), "[Missed Tracker] shop.example - macOS - v1.2");
    // The whole body as a reader and a script see it.
    EXPECT_EQ(report.bodyText(), testing::readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) /
                                                   "tests/data/report/missed-tracker-body.txt"));
}

TEST(MissedTrackerReportTest, MissingFactsAndLongTexts) {
    CleanResult unhosted = trackedClean();
    unhosted.cleanedURL = "about:blank";
    CleanResult nothing;
    nothing.originalURL = nothing.cleanedURL = "not a link";
    CleanResult longHost = trackedClean();
    longHost.cleanedURL = "https://" + std::string(56, 'h') + ".com/";
    // 600 user-perceived characters of two code points each: the cut counts characters, not bytes.
    std::string note;
    for (int i = 0; i < 600; ++i)
        note += "e\u0301";

    const auto fromOriginal = Builder::build(unhosted, mac(), "", kCreated);
    EXPECT_EQ(fromOriginal.host, "shop.example");
    const auto bare = Builder::build(nothing, mac(), note, kCreated);
    EXPECT_EQ(bare.subject(), "[Missed Tracker] Unknown Host - macOS - v1.2");
    EXPECT_FALSE(bare.wasModified);
    EXPECT_EQ(bare.userNote, note.substr(0, note.size() * 5 / 6));
    EXPECT_EQ(Builder::build(longHost, mac(), "", kCreated).subject(),
              "[Missed Tracker] " + std::string(50, 'h') + " - macOS - v1.2");
    EXPECT_EQ(Builder::build(longHost, mac(), "", kCreated).jsonPayload().toJson()["host"],
              std::string(56, 'h') + ".com");

    const std::string body = fromOriginal.bodyText();
    for (const char* part : {"User note:\n[none]\n", "App version:\n1.2\n", "Rules summary:\n[not available]\n",
                             "\"userNote\": \"\"", "Matched categories:\nAdvertising, Analytics\n"}) {
        EXPECT_NE(body.find(part), std::string::npos) << part;
    }
    for (const char* absent : {"appBuild", "rulesProviderCount", "rulesLastUpdate", "null"})
        EXPECT_EQ(body.find(absent), std::string::npos) << absent;
    EXPECT_EQ(Builder::build(nothing, mac(), "", kCreated).bodyText().find("\"host\""), std::string::npos);
}

// The compose link carries subject and body exactly, and is offered up to 8192 characters inclusive.
TEST(MissedTrackerReportTest, MailtoLinkRoundTripsAndStopsAtTheSafeLength) {
    auto report = Builder::build(trackedClean(), mac(), "a&b=c+d #e\n\u00E9\u00E9 100%", kCreated);
    const auto link = URLComponents::parse(report.mailtoURL());
    ASSERT_TRUE(link);
    EXPECT_EQ(link->scheme(), "mailto");
    EXPECT_EQ(link->percentEncodedPath(), MissedTrackerReport::recipientEmail);
    EXPECT_EQ(link->queryItems(),
              (std::vector<URLQueryItem>{{"subject", report.subject()}, {"body", report.bodyText()}}));

    // Each character added to the original link adds two (it shows in the body and the JSON); a '"'
    // for a note turns the length's parity ("[none]" becomes %22, and %5C%22 joins the JSON).
    for (const std::size_t length :
         {MissedTrackerReport::mailtoLengthLimit, MissedTrackerReport::mailtoLengthLimit + 1}) {
        report.originalURL = trackedClean().originalURL;
        report.userNote.clear();
        if ((length - report.mailtoURL().size()) % 2 == 1) report.userNote = "\"";
        report.originalURL += std::string((length - report.mailtoURL().size()) / 2, 'x');
        ASSERT_EQ(text::graphemeCount(report.mailtoURL()), length);
        EXPECT_EQ(report.mailtoIsSafeLength(), length <= MissedTrackerReport::mailtoLengthLimit) << length;
    }
}

}  // namespace
}  // namespace tessaril
