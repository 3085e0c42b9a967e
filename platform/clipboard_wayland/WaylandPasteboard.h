// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Pasteboard.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tessaril {

class DataControlSession;

// The clipboard of a Wayland compositor, through the data-control protocol that clipboard managers
// use (ext-data-control-v1, else the wlroots one): a background program has no focused surface, so
// the ordinary data device would show it nothing.
//
// Compositor events are handled on a thread of the adapter's own, so changes are counted while the
// main thread is busy. The other methods are for one thread (the main loop's); they never wait on
// the event thread, and a read waits at most a second for the program that owns the contents. Once
// the compositor is gone, the count stands still and every read answers "no text".
class WaylandPasteboard final : public Pasteboard {
public:
    // Connects to the compositor that WAYLAND_DISPLAY names. The adapter, or why there is none (no
    // compositor, or one without a data-control protocol), in words a user can be shown.
    static std::variant<std::unique_ptr<WaylandPasteboard>, std::string> connect();

    explicit WaylandPasteboard(std::unique_ptr<DataControlSession> session);
    ~WaylandPasteboard() override;

    [[nodiscard]] std::optional<std::string> plainText() const override;
    [[nodiscard]] bool isConcealed() const override;
    void clear() override;
    void writePlainText(std::string_view text) override;

private:
    std::unique_ptr<DataControlSession> session_;
};

}  // namespace tessaril
