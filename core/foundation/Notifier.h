// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tessaril {

// One banner. Banners are silent: the product never plays a sound with them.
struct Notification {
    // A banner posted with the identifier of one still shown replaces it instead of stacking.
    std::string identifier;
    std::string title;
    std::string body;

    bool operator==(const Notification&) const = default;
};

// The desktop's local notifications.
class Notifier {
public:
    virtual ~Notifier() = default;

    // Whether banners can be shown at all: the desktop offers the service and this program is the
    // application (the command-line tool never posts any).
    [[nodiscard]] virtual bool isAvailable() const = 0;
    // Asks the user to allow banners. The answer changes nothing here and nobody waits for it:
    // posting goes ahead either way and the desktop decides what to show.
    virtual void requestPermission() = 0;
    virtual void post(const Notification& notification) = 0;
};

// Keeps the banners a desktop would be showing, in posting order: the test double.
class RecordingNotifier final : public Notifier {
public:
    explicit RecordingNotifier(bool available = true) : available_(available) {}

    [[nodiscard]] bool isAvailable() const override { return available_; }
    void requestPermission() override { ++permissionRequests_; }
    void post(const Notification& notification) override;

    // What is on screen: a replaced banner is gone and its replacement is the newest.
    [[nodiscard]] const std::vector<Notification>& shown() const { return shown_; }
    [[nodiscard]] std::size_t permissionRequests() const { return permissionRequests_; }
    // Every call of any operation but isAvailable, so a test can tell the service was never touched.
    [[nodiscard]] std::size_t calls() const { return posts_ + permissionRequests_; }

private:
    bool available_;
    std::vector<Notification> shown_;
    std::size_t posts_ = 0;
    std::size_t permissionRequests_ = 0;
};

}  // namespace tessaril
