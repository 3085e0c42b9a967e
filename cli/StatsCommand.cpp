// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StatsCommand.h"

#include <CLI/CLI.hpp>
#include <array>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>
#include <utility>

#include "cli/ToolContext.h"
#include "core/foundation/Clock.h"
#include "core/stats/StatsTracker.h"

namespace tessaril::cli {

namespace {

// The windows by the names the option takes.
constexpr std::array<std::pair<std::string_view, StatsWindow>, 4> kWindowNames = {{
    {"today", StatsWindow::today},
    {"7d", StatsWindow::sevenDays},
    {"30d", StatsWindow::thirtyDays},
    {"all", StatsWindow::allTime},
}};

StatsWindow windowNamed(std::string_view name) {
    for (const auto& [option, window] : kWindowNames) {
        if (option == name) return window;
    }
    return StatsWindow::today;
}

// The rows under their section names, labels in one column.
void printSummary(const StatsTracker& tracker, StatsWindow window, std::ostream& out) {
    out << "Statistics for " << rawValue(window) << '\n';
    std::string_view section;
    for (const StatsRow& row : tracker.snapshot(window).rows()) {
        if (row.section != section) {
            section = row.section;
            out << section << '\n';
        }
        out << "  " << row.label << std::string(row.label.size() < 20 ? 20 - row.label.size() : 1, ' ') << row.count
            << '\n';
    }
    if (!tracker.isCollectionEnabled())
        out << "Collection is off: nothing new is counted (tessaril stats --collect on)\n";
}

}  // namespace

StatsCommand::StatsCommand(CLI::App& app) {
    command_ = app.add_subcommand("stats", "Show, export or reset the on-device statistics");
    auto* window = command_->add_option("--window", window_, "today (the default), 7d, 30d or all")
                       ->check(CLI::IsMember({"today", "7d", "30d", "all"}));
    auto* json = command_->add_flag("--json", json_, "The window's counts as one JSON object");
    auto* csv = command_->add_flag("--csv", csv_, "Every window as the statistics export (CSV)");
    auto* reset = command_->add_flag("--reset", reset_, "Set every count to zero");
    collect_ = command_->add_option("--collect", collecting_, "Count from now on, or stop counting")
                   ->check(CLI::IsMember({"on", "off"}))
                   ->type_name("on|off");
    csv->excludes(window)->excludes(json)->excludes(reset)->excludes(collect_);
    reset->excludes(window)->excludes(json)->excludes(collect_);
    collect_->excludes(window)->excludes(json);
}

bool StatsCommand::parsed() const {
    return command_->parsed();
}

ExitStatus StatsCommand::run(std::ostream& out, std::ostream& err) const {
    const SystemClock clock;
    if (reset_ || collect_->count() > 0) {
        ToolContext context(err);
        return context.commit([&](UserDefaults& store) {
            StatsTracker tracker(store, clock);
            if (!reset_) {
                const bool on = collecting_ == "on";
                tracker.setCollectionEnabled(on);
                return store.boolValue(StatsTracker::statsCollectionEnabledKey) == on;
            }
            tracker.resetStats();
            return StatsTracker(store, clock).snapshot(StatsWindow::allTime) == StatsSnapshot::zero() &&
                   !store.objectExists(StatsTracker::dailyBucketsKey);
        });
    }
    ToolContext context(err, ToolContext::StoreAccess::readOnly);
    const StatsTracker tracker(context.defaults(), clock);
    if (csv_) {
        out << tracker.exportCSV();
        return ExitStatus::success;
    }
    const StatsWindow window = windowNamed(window_);
    if (!json_) {
        printSummary(tracker, window, out);
        return ExitStatus::success;
    }
    nlohmann::ordered_json json;
    json["window"] = rawValue(window);
    json["collectionEnabled"] = tracker.isCollectionEnabled();
    const auto counts = tracker.snapshot(window).toJson();
    for (const auto& [key, value] : counts.items())
        json[key] = value;
    out << json.dump() << '\n';
    return ExitStatus::success;
}

}  // namespace tessaril::cli
