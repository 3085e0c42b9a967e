// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/clipboard_wayland/PipeTransfer.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_proxy;
struct wl_registry;

namespace tessaril {

// One connection to a compositor's data-control protocol: the current selection and its types, the
// program's own selection source, and the thread that handles the compositor's events.
//
// All protocol objects and the state below are guarded by one mutex: the event thread holds it
// while it dispatches, the caller's thread while it sends a request. Transfers of the contents run
// outside it, so neither thread ever waits on the other's reader or writer.
class DataControlSession {
public:
    // The interfaces of one of the two data-control protocols.
    struct Protocol;

    // Connects and reads the compositor's current selection; the reason when that cannot be done.
    static std::variant<std::unique_ptr<DataControlSession>, std::string> open();
    ~DataControlSession();
    DataControlSession(const DataControlSession&) = delete;
    DataControlSession& operator=(const DataControlSession&) = delete;

    // Starts the event thread; `onChange` is called on it for each new selection another program
    // makes from now on (the one found at connection is the starting state, not a change).
    void start(std::function<void()> onChange);

    // The current selection's contents as the first of `types` it offers, read within the time-out
    // and the size cap. Nothing when it offers none of them or the transfer fails.
    std::optional<std::string> read(std::span<const std::string_view> types, std::size_t cap) const;
    // Whether the current selection offers `type`.
    bool offers(std::string_view type) const;
    // Data offered as one type.
    struct Representation {
        std::string type;
        std::shared_ptr<const std::string> data;
    };
    // Makes these the selection (an empty one without any); false when the compositor is gone.
    bool select(std::vector<Representation> contents);

private:
    struct Offer {
        wl_proxy* proxy;
        std::vector<std::string> types;
    };

    explicit DataControlSession(wl_display* display);
    bool bind(std::string& whyNot);
    void run();
    // Waits for and handles what comes next; false once the connection has failed.
    bool dispatchOnce();
    void wake() const;
    void flush() const;
    Offer* find(wl_proxy* offer);
    void discard(Offer* offer);
    const Offer* usableSelection() const;

    // Compositor events, called on the event thread with the mutex held.
    static void global(void* self, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void dataOffer(void* self, wl_proxy* device, wl_proxy* offer);
    static void selection(void* self, wl_proxy* device, wl_proxy* offer);
    static void finished(void* self, wl_proxy* device);
    static void primarySelection(void* self, wl_proxy* device, wl_proxy* offer);
    static void offerType(void* offer, wl_proxy* proxy, const char* type);
    static void send(void* self, wl_proxy* source, const char* type, std::int32_t fd);
    static void cancelled(void* self, wl_proxy* source);

    mutable std::mutex mutex_;
    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_proxy* seat_ = nullptr;
    wl_proxy* manager_ = nullptr;
    const Protocol* protocol_ = nullptr;
    wl_proxy* device_ = nullptr;
    bool connected_ = true;
    // Offers introduced and not yet destroyed; `selection_` is one of them or null.
    std::vector<std::unique_ptr<Offer>> offers_;
    Offer* selection_ = nullptr;
    // The program's own selection source and what it offers; the type that marks its offers as ours.
    wl_proxy* source_ = nullptr;
    std::vector<Representation> sourceContents_;
    std::string ownType_;
    // Clears whose empty selection is still to be announced: they counted when they were made.
    int clearsToAnnounce_ = 0;
    std::vector<PipeWriter> writers_;
    std::function<void()> onChange_;

    std::atomic<bool> stopping_{false};
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

}  // namespace tessaril
