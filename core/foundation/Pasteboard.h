// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The desktop's general clipboard, as the main loop sees it.
//
// The change count is kept here rather than asked of the platform, because X11 and Wayland tell a
// program *that* the clipboard changed, not how often: an adapter calls noteChange() from its
// change-notification handler, so the count advances without anyone reading the contents. Every
// change advances it, whoever made it; clear() and writePlainText() advance it before they return.
// An adapter whose platform also announces the program's own writes must count such a write once,
// not once more when its announcement arrives, or the writer would take its own write for another
// program's.
class Pasteboard {
public:
    Pasteboard() = default;
    Pasteboard(const Pasteboard&) = delete;
    Pasteboard& operator=(const Pasteboard&) = delete;
    virtual ~Pasteboard() = default;

    // Safe from any thread.
    [[nodiscard]] std::int64_t changeCount() const { return changeCount_.load(std::memory_order_acquire); }

    // The contents as plain text; nothing when they hold no text (an image, files, nothing at all).
    [[nodiscard]] virtual std::optional<std::string> plainText() const = 0;
    // Whether the program that put the contents there marked them secret (a password manager's
    // "x-kde-passwordManagerHint: secret" and its equivalents). Such contents are never read.
    [[nodiscard]] virtual bool isConcealed() const = 0;
    virtual void clear() = 0;
    // Replaces the contents with `text` as plain text only.
    virtual void writePlainText(std::string_view text) = 0;

    // Calls `handler` after each change, on the thread that noted it (an adapter's event thread, or
    // the writer's own), so a change can be acted on at once rather than at the next look. Replaces
    // the handler before; an empty one removes it. A handler that is running when it is replaced
    // finishes first. Safe from any thread.
    void onChange(std::function<void()> handler) {
        const std::scoped_lock lock(handlerMutex_);
        handler_ = std::move(handler);
    }

protected:
    // One more change of the contents. Safe from any thread.
    void noteChange() {
        changeCount_.fetch_add(1, std::memory_order_acq_rel);
        const std::scoped_lock lock(handlerMutex_);
        if (handler_) handler_();
    }

private:
    std::atomic<std::int64_t> changeCount_{0};
    std::mutex handlerMutex_;
    std::function<void()> handler_;
};

// A clipboard held in memory, for tests and the command-line tool: it counts changes as a real one
// does, lets other programs' copies (text, an image, a concealed secret) be played onto it, and
// counts the reads and writes of the program under test. Used from one thread.
class InMemoryPasteboard final : public Pasteboard {
public:
    [[nodiscard]] std::optional<std::string> plainText() const override {
        ++reads_;
        return text_;
    }
    [[nodiscard]] bool isConcealed() const override { return concealed_; }
    void clear() override { replace(std::nullopt, false); }
    void writePlainText(std::string_view text) override {
        ++writes_;
        replace(std::string(text), false);
    }

    // Another program copies text, an image (contents without text), or a secret marked concealed.
    void copyText(std::string_view text) { replace(std::string(text), false); }
    void copyImage() { replace(std::nullopt, false); }
    void copyConcealedText(std::string_view text) { replace(std::string(text), true); }

    // The contents, without counting a read.
    [[nodiscard]] const std::optional<std::string>& contents() const { return text_; }
    // How often the program read the text, and wrote text.
    [[nodiscard]] std::size_t reads() const { return reads_; }
    [[nodiscard]] std::size_t writes() const { return writes_; }

private:
    void replace(std::optional<std::string> text, bool concealed) {
        text_ = std::move(text);
        concealed_ = concealed;
        noteChange();
    }

    std::optional<std::string> text_;
    bool concealed_ = false;
    mutable std::size_t reads_ = 0;
    std::size_t writes_ = 0;
};

}  // namespace tessaril
