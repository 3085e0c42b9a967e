// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clipboard_wayland/DataControlSession.h"

#include <ext-data-control-v1-client-protocol.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tessaril {

namespace {

using namespace std::chrono_literals;

// A program that owns the selection gets this long to hand its contents over.
constexpr auto kReadTimeout = 1000ms;

// The two protocols are driven through one code path: their requests and events come in the same
// order with the same arguments, so only the interfaces differ.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE == ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE == ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION == ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE);
static_assert(EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);

}  // namespace

struct DataControlSession::Protocol {
    const char* managerName;
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
};

namespace {

// In order of preference.
const std::array<DataControlSession::Protocol, 2> kProtocols{{
    {"ext_data_control_manager_v1", &ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
     &ext_data_control_source_v1_interface},
    {"zwlr_data_control_manager_v1", &zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
     &zwlr_data_control_source_v1_interface},
}};

// Listeners in the protocols' event order, with every object as a plain proxy.
struct DeviceListener {
    void (*dataOffer)(void*, wl_proxy*, wl_proxy*);
    void (*selection)(void*, wl_proxy*, wl_proxy*);
    void (*finished)(void*, wl_proxy*);
    void (*primarySelection)(void*, wl_proxy*, wl_proxy*);
};
struct OfferListener {
    void (*offer)(void*, wl_proxy*, const char*);
};
struct SourceListener {
    void (*send)(void*, wl_proxy*, const char*, std::int32_t);
    void (*cancelled)(void*, wl_proxy*);
};

template <typename Listener>
void listen(wl_proxy* proxy, const Listener& listener, void* data) {
    // libwayland takes a listener as an array of function pointers, as its generated code passes it.
    wl_proxy_add_listener(proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)), data);
}

void destroy(wl_proxy* proxy, std::uint32_t opcode) {
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

std::string ownTypeName() {
    static std::atomic<int> sessions{0};
    return "application/x-tessaril-own-" + std::to_string(::getpid()) + "-" + std::to_string(++sessions);
}

}  // namespace

std::variant<std::unique_ptr<DataControlSession>, std::string> DataControlSession::open() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        return std::string("cannot connect to the Wayland compositor") +
               (name != nullptr ? std::string(" \"") + name + "\"" : std::string(" (WAYLAND_DISPLAY is not set)"));
    }
    std::unique_ptr<DataControlSession> session(new DataControlSession(display));
    std::string whyNot;
    if (!session->bind(whyNot)) return whyNot;
    return session;
}

DataControlSession::DataControlSession(wl_display* display) : display_(display), ownType_(ownTypeName()) {}

bool DataControlSession::bind(std::string& whyNot) {
    static const wl_registry_listener registryListener{&DataControlSession::global,
                                                       [](void*, wl_registry*, std::uint32_t) {}};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    if (wl_display_roundtrip(display_) < 0) {
        whyNot = "the Wayland compositor closed the connection";
        return false;
    }
    if (manager_ == nullptr) {
        whyNot =
            "this Wayland compositor offers no clipboard data-control protocol (ext-data-control-v1 or "
            "wlr-data-control), so clipboard changes cannot be watched";
        return false;
    }
    if (seat_ == nullptr) {
        whyNot = "this Wayland compositor has no seat, so it has no clipboard";
        return false;
    }
    static const DeviceListener deviceListener{&DataControlSession::dataOffer, &DataControlSession::selection,
                                               &DataControlSession::finished, &DataControlSession::primarySelection};
    device_ = wl_proxy_marshal_flags(manager_, EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE, protocol_->device,
                                     wl_proxy_get_version(manager_), 0, nullptr, seat_);
    listen(device_, deviceListener, this);
    if (wl_display_roundtrip(display_) < 0) {
        whyNot = "the Wayland compositor refused the clipboard data-control device";
        return false;
    }
    return true;
}

void DataControlSession::global(void* self, wl_registry* registry, std::uint32_t name, const char* interface,
                                std::uint32_t /*version*/) {
    auto& session = *static_cast<DataControlSession*>(self);
    if (session.seat_ == nullptr && std::strcmp(interface, wl_seat_interface.name) == 0) {
        session.seat_ = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        return;
    }
    for (const Protocol& protocol : kProtocols) {
        const bool preferred = session.protocol_ == nullptr || &protocol < session.protocol_;
        if (preferred && std::strcmp(interface, protocol.managerName) == 0) {
            if (session.manager_ != nullptr) destroy(session.manager_, EXT_DATA_CONTROL_MANAGER_V1_DESTROY);
            // Version 1 of either is all this needs; it keeps the primary selection out of the wlroots one.
            session.manager_ = static_cast<wl_proxy*>(wl_registry_bind(registry, name, protocol.manager, 1));
            session.protocol_ = &protocol;
        }
    }
}

void DataControlSession::start(std::function<void()> onChange) {
    {
        std::lock_guard lock(mutex_);
        onChange_ = std::move(onChange);
    }
    std::array<int, 2> wakePipe{};
    if (::pipe2(wakePipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        std::lock_guard lock(mutex_);
        connected_ = false;
        return;
    }
    wakeRead_ = wakePipe[0];
    wakeWrite_ = wakePipe[1];
    // The event thread writes to readers' pipes: one that went away must not end the program.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    thread_ = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void DataControlSession::run() {
    while (!stopping_.load() && dispatchOnce()) {
    }
    // Stopped, or the compositor is gone: nothing more is heard from it either way.
    std::lock_guard lock(mutex_);
    connected_ = false;
    writers_.clear();
}

bool DataControlSession::dispatchOnce() {
    std::vector<pollfd> watched;
    {
        std::lock_guard lock(mutex_);
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) return false;
        }
        watched.push_back({wl_display_get_fd(display_), POLLIN, 0});
        watched.push_back({wakeRead_, POLLIN, 0});
        for (const PipeWriter& writer : writers_)
            watched.push_back({writer.fd(), POLLOUT, 0});
    }
    if (wl_display_flush(display_) < 0 && errno == EAGAIN) watched[0].events |= POLLOUT;
    if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) {
        wl_display_cancel_read(display_);
        return false;
    }
    if ((watched[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        if (wl_display_read_events(display_) < 0) return false;
    } else {
        wl_display_cancel_read(display_);
    }
    if ((watched[1].revents & POLLIN) != 0) {
        std::array<char, 64> drained{};
        while (::read(wakeRead_, drained.data(), drained.size()) > 0) {
        }
    }
    std::lock_guard lock(mutex_);
    for (std::size_t i = 2; i < watched.size(); ++i) {
        if (watched[i].revents != 0) writers_[i - 2].resume();
    }
    std::erase_if(writers_, [](const PipeWriter& writer) { return writer.fd() < 0; });
    return wl_display_dispatch_pending(display_) >= 0;
}

void DataControlSession::wake() const {
    if (wakeWrite_ >= 0) (void)!::write(wakeWrite_, "x", 1);
}

void DataControlSession::flush() const {
    wl_display_flush(display_);
    wake();
}

DataControlSession::~DataControlSession() {
    stopping_.store(true);
    wake();
    if (thread_.joinable()) thread_.join();
    writers_.clear();
    for (const auto& offer : offers_)
        destroy(offer->proxy, EXT_DATA_CONTROL_OFFER_V1_DESTROY);
    if (source_ != nullptr) destroy(source_, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
    if (device_ != nullptr) destroy(device_, EXT_DATA_CONTROL_DEVICE_V1_DESTROY);
    if (manager_ != nullptr) destroy(manager_, EXT_DATA_CONTROL_MANAGER_V1_DESTROY);
    if (seat_ != nullptr) wl_proxy_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

DataControlSession::Offer* DataControlSession::find(wl_proxy* offer) {
    const auto found = std::find_if(offers_.begin(), offers_.end(), [&](const auto& o) { return o->proxy == offer; });
    return found == offers_.end() ? nullptr : found->get();
}

void DataControlSession::discard(Offer* offer) {
    if (offer == nullptr) return;
    if (offer == selection_) selection_ = nullptr;
    destroy(offer->proxy, EXT_DATA_CONTROL_OFFER_V1_DESTROY);
    std::erase_if(offers_, [&](const auto& o) { return o.get() == offer; });
}

void DataControlSession::dataOffer(void* self, wl_proxy* /*device*/, wl_proxy* offer) {
    static const OfferListener offerListener{&DataControlSession::offerType};
    auto& session = *static_cast<DataControlSession*>(self);
    session.offers_.push_back(std::make_unique<Offer>(Offer{offer, {}}));
    listen(offer, offerListener, session.offers_.back().get());
}

void DataControlSession::offerType(void* offer, wl_proxy* /*proxy*/, const char* type) {
    static_cast<Offer*>(offer)->types.emplace_back(type);
}

void DataControlSession::selection(void* self, wl_proxy* /*device*/, wl_proxy* offer) {
    auto& session = *static_cast<DataControlSession*>(self);
    Offer* next = offer == nullptr ? nullptr : session.find(offer);
    if (session.selection_ != next) session.discard(session.selection_);
    session.selection_ = next;
    if (next == nullptr && session.clearsToAnnounce_ > 0) {
        --session.clearsToAnnounce_;
        return;
    }
    // The compositor announces the program's own writes too; they counted when they were made.
    const bool ours = next != nullptr && std::ranges::find(next->types, session.ownType_) != next->types.end();
    if (!ours && session.onChange_) session.onChange_();
}

void DataControlSession::primarySelection(void* self, wl_proxy* /*device*/, wl_proxy* offer) {
    auto& session = *static_cast<DataControlSession*>(self);
    if (offer != nullptr) session.discard(session.find(offer));
}

void DataControlSession::finished(void* self, wl_proxy* /*device*/) {
    auto& session = *static_cast<DataControlSession*>(self);
    session.connected_ = false;
    session.discard(session.selection_);
}

void DataControlSession::send(void* self, wl_proxy* source, const char* type, std::int32_t fd) {
    auto& session = *static_cast<DataControlSession*>(self);
    const auto& contents = session.sourceContents_;
    const auto asked = std::ranges::find(contents, std::string_view(type), &Representation::type);
    if (source != session.source_ || asked == contents.end()) {
        ::close(fd);
        return;
    }
    PipeWriter writer(fd, asked->data);
    if (!writer.resume()) session.writers_.push_back(std::move(writer));
}

void DataControlSession::cancelled(void* self, wl_proxy* source) {
    auto& session = *static_cast<DataControlSession*>(self);
    if (source == session.source_) {
        session.source_ = nullptr;
        session.sourceContents_.clear();
    }
    destroy(source, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
}

const DataControlSession::Offer* DataControlSession::usableSelection() const {
    return connected_ ? selection_ : nullptr;
}

bool DataControlSession::offers(std::string_view type) const {
    std::lock_guard lock(mutex_);
    const Offer* offer = usableSelection();
    return offer != nullptr && std::ranges::find(offer->types, type) != offer->types.end();
}

std::optional<std::string> DataControlSession::read(std::span<const std::string_view> types, std::size_t cap) const {
    int readEnd = -1;
    {
        std::lock_guard lock(mutex_);
        const Offer* offer = usableSelection();
        if (offer == nullptr) return std::nullopt;
        const auto type = std::ranges::find_if(
            types, [&](std::string_view t) { return std::ranges::find(offer->types, t) != offer->types.end(); });
        if (type == types.end()) return std::nullopt;
        std::array<int, 2> transfer{};
        if (::pipe2(transfer.data(), O_CLOEXEC) != 0) return std::nullopt;
        wl_proxy_marshal_flags(offer->proxy, EXT_DATA_CONTROL_OFFER_V1_RECEIVE, nullptr,
                               wl_proxy_get_version(offer->proxy), 0, std::string(*type).c_str(), transfer[1]);
        ::close(transfer[1]);
        readEnd = transfer[0];
        flush();
    }
    return readToEnd(readEnd, cap, kReadTimeout);
}

bool DataControlSession::select(std::vector<Representation> contents) {
    static const SourceListener sourceListener{&DataControlSession::send, &DataControlSession::cancelled};
    std::lock_guard lock(mutex_);
    if (!connected_) return false;
    wl_proxy* replaced = std::exchange(source_, nullptr);
    sourceContents_ = std::move(contents);
    if (!sourceContents_.empty()) {
        source_ = wl_proxy_marshal_flags(manager_, EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE, protocol_->source,
                                         wl_proxy_get_version(manager_), 0, nullptr);
        listen(source_, sourceListener, this);
        sourceContents_.push_back({ownType_, std::make_shared<const std::string>()});
        for (const Representation& representation : sourceContents_) {
            wl_proxy_marshal_flags(source_, EXT_DATA_CONTROL_SOURCE_V1_OFFER, nullptr, wl_proxy_get_version(source_), 0,
                                   representation.type.c_str());
        }
    } else if (selection_ != nullptr || replaced != nullptr) {
        // Emptying an empty clipboard is announced to nobody.
        ++clearsToAnnounce_;
    }
    wl_proxy_marshal_flags(device_, EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION, nullptr, wl_proxy_get_version(device_), 0,
                           source_);
    if (replaced != nullptr) destroy(replaced, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
    flush();
    return true;
}

}  // namespace tessaril
