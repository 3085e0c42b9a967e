// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RulesUpdateStatus.h"

#include "core/foundation/Dates.h"

#include <unicode/datefmt.h>
#include <unicode/unistr.h>

#include <chrono>
#include <memory>

namespace tessaril {

namespace {

template <class... Visitors>
struct Overloaded : Visitors... {
    using Visitors::operator()...;
};
template <class... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

std::string shortDateTime(Date date) {
    const std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kShort));
    if (!format) return formatInternetDateTime(date);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString text;
    format->format(static_cast<UDate>(millis), text);
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

}  // namespace

std::optional<std::string> RulesUpdateStatus::displayText() const {
    return std::visit(Overloaded{
                          [](const Idle&) -> std::optional<std::string> { return std::nullopt; },
                          [](const CheckingManifest&) -> std::optional<std::string> { return "Checking\u2026"; },
                          [](const Downloading&) -> std::optional<std::string> { return "Downloading\u2026"; },
                          [](const Validating&) -> std::optional<std::string> { return "Validating\u2026"; },
                          [](const Installing&) -> std::optional<std::string> { return "Installing\u2026"; },
                          [](const UpdateAvailable& available) -> std::optional<std::string> {
                              return "Rules update available: " + available.manifest.currentVersion;
                          },
                          [](const UpToDate& upToDate) -> std::optional<std::string> {
                              return "Rules are up to date: " + upToDate.version;
                          },
                          [](const Installed& installed) -> std::optional<std::string> {
                              return "Installed rules " + installed.version + " at " + shortDateTime(installed.date);
                          },
                          [](const Failed& failed) -> std::optional<std::string> { return failed.message; },
                      },
                      state_);
}

bool RulesUpdateStatus::isBusy() const {
    return std::holds_alternative<CheckingManifest>(state_) || std::holds_alternative<Downloading>(state_) ||
           std::holds_alternative<Validating>(state_) || std::holds_alternative<Installing>(state_);
}

}  // namespace tessaril
