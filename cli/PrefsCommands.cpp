// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/PrefsCommands.h"

#include <CLI/CLI.hpp>
#include <array>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/ToolContext.h"
#include "core/clipboard/ClipboardMonitor.h"
#include "core/foundation/Text.h"
#include "core/notifications/NotificationManager.h"
#include "core/preferences/ProactivePreferences.h"

namespace tessaril::cli {

namespace {

// One switch, read and written through the component that owns it, so its default and its
// couplings are the application's.
struct Switch {
    std::string_view key;
    bool (*read)(UserDefaults&);
    void (*write)(UserDefaults&, bool);
    // Why the switch can stay off after being turned on.
    std::string_view keptOff;
};

const std::array<Switch, 7> kSwitches = {{
    {NotificationManager::enabledKey,
     [](UserDefaults& d) { return NotificationManager(d, nullptr).isEnabled(); },
     [](UserDefaults& d, bool on) { NotificationManager(d, nullptr).setEnabled(on); },
     {}},
    {NotificationManager::commandWarningsEnabledKey,
     [](UserDefaults& d) { return NotificationManager(d, nullptr).areCommandWarningsEnabled(); },
     [](UserDefaults& d, bool on) { NotificationManager(d, nullptr).setCommandWarningsEnabled(on); },
     {}},
    {ProactivePreferences::unknownAlertsKey,
     [](UserDefaults& d) { return ProactivePreferences(d).unknownAlerts(); },
     [](UserDefaults& d, bool on) { ProactivePreferences(d).setUnknownAlerts(on); },
     {}},
    {ProactivePreferences::dailyRulesKey,
     [](UserDefaults& d) { return ProactivePreferences(d).dailyRules(); },
     [](UserDefaults& d, bool on) { ProactivePreferences(d).setDailyRules(on); },
     {}},
    {ProactivePreferences::automaticInstallKey,
     [](UserDefaults& d) { return ProactivePreferences(d).automaticInstall(); },
     [](UserDefaults& d, bool on) { ProactivePreferences(d).setAutomaticInstall(on); },
     "it stays off while proactive_dailyRules is off"},
    {ProactivePreferences::weeklyAppKey,
     [](UserDefaults& d) { return ProactivePreferences(d).weeklyApp(); },
     [](UserDefaults& d, bool on) { ProactivePreferences(d).setWeeklyApp(on); },
     {}},
    // The tray application replaces a risky command it sees copied with a commented copy.
    {ClipboardMonitor::commandGuardNeutralizeKey,
     [](UserDefaults& d) { return d.boolValue(ClipboardMonitor::commandGuardNeutralizeKey).value_or(false); },
     [](UserDefaults& d, bool on) { d.set(ClipboardMonitor::commandGuardNeutralizeKey, on); },
     {}},
}};

const Switch* switchNamed(std::string_view key) {
    for (const Switch& candidate : kSwitches) {
        if (candidate.key == key) return &candidate;
    }
    return nullptr;
}

std::optional<bool> booleanNamed(std::string_view value) {
    if (value == "true" || value == "on") return true;
    if (value == "false" || value == "off") return false;
    return std::nullopt;
}

std::string_view word(bool on) {
    return on ? "true" : "false";
}

}  // namespace

PrefsCommands::PrefsCommands(CLI::App& app) {
    prefs_ = app.add_subcommand("prefs", "Read and set the opt-in, notification and Command Guard switches");
    prefs_->require_subcommand(1);
    list_ = prefs_->add_subcommand("list", "Print every switch as KEY true|false");
    get_ = prefs_->add_subcommand("get", "Print one switch's value");
    get_->add_option("KEY", key_, "A key that `prefs list` shows")->required();
    set_ = prefs_->add_subcommand("set", "Turn a switch on or off");
    set_->add_option("KEY", key_, "A key that `prefs list` shows")->required();
    set_->add_option("VALUE", value_, "true, false, on or off")->required();
}

bool PrefsCommands::parsed() const {
    return prefs_->parsed();
}

ExitStatus PrefsCommands::run(std::ostream& out, std::ostream& err) const {
    if (list_->parsed()) {
        ToolContext context(err, ToolContext::StoreAccess::readOnly);
        for (const Switch& entry : kSwitches)
            out << entry.key << ' ' << word(entry.read(context.defaults())) << '\n';
        return ExitStatus::success;
    }
    const Switch* entry = switchNamed(key_);
    if (entry == nullptr) {
        err << "tessaril: there is no switch \"" << text::escapedForTerminal(key_)
            << "\"; `tessaril prefs list` shows them all\n";
        return ExitStatus::usage;
    }
    if (get_->parsed()) {
        ToolContext context(err, ToolContext::StoreAccess::readOnly);
        out << word(entry->read(context.defaults())) << '\n';
        return ExitStatus::success;
    }
    const auto on = booleanNamed(value_);
    if (!on) {
        err << "tessaril: " << entry->key << " is a switch: true, false, on or off, not \""
            << text::escapedForTerminal(value_) << "\"\n";
        return ExitStatus::usage;
    }
    ToolContext context(err);
    const ExitStatus status = context.commit([&](UserDefaults& store) {
        // Removed first, so finding it afterwards proves the write landed.
        store.remove(entry->key);
        entry->write(store, *on);
        return store.objectExists(entry->key);
    });
    if (status != ExitStatus::success) return status;
    if (!entry->keptOff.empty() && entry->read(context.defaults()) != *on) {
        err << "tessaril: " << entry->key << " was not turned on: " << entry->keptOff << '\n';
        return ExitStatus::refused;
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
