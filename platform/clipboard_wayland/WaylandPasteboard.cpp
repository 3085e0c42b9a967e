// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clipboard_wayland/WaylandPasteboard.h"

#include "platform/clipboard_wayland/DataControlSession.h"

#include <array>

namespace tessaril {

namespace {

// The text types written contents offer, which are also the ones read as text, in order of
// preference: as the programs that copy text name them.
constexpr std::array<std::string_view, 5> kTextTypes{"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT",
                                                     "STRING"};
// Contents larger than this are not taken for text someone copied to paste.
constexpr std::size_t kTextCap = std::size_t{16} << 20;
// Password managers mark a copied secret with this type, whose data is "secret".
constexpr std::string_view kConcealedType = "x-kde-passwordManagerHint";
constexpr std::size_t kHintCap = 64;

}  // namespace

std::variant<std::unique_ptr<WaylandPasteboard>, std::string> WaylandPasteboard::connect() {
    auto session = DataControlSession::open();
    if (auto* whyNot = std::get_if<std::string>(&session)) return std::move(*whyNot);
    return std::make_unique<WaylandPasteboard>(std::get<std::unique_ptr<DataControlSession>>(std::move(session)));
}

WaylandPasteboard::WaylandPasteboard(std::unique_ptr<DataControlSession> session) : session_(std::move(session)) {
    session_->start([this] { noteChange(); });
}

WaylandPasteboard::~WaylandPasteboard() = default;

std::optional<std::string> WaylandPasteboard::plainText() const {
    return session_->read(kTextTypes, kTextCap);
}

bool WaylandPasteboard::isConcealed() const {
    if (!session_->offers(kConcealedType)) return false;
    // A hint that cannot be read is taken at its word: the contents stay unread.
    const std::array<std::string_view, 1> hintType{kConcealedType};
    const auto hint = session_->read(hintType, kHintCap);
    return !hint || hint->starts_with("secret");
}

void WaylandPasteboard::clear() {
    if (session_->select({})) noteChange();
}

void WaylandPasteboard::writePlainText(std::string_view text) {
    const auto data = std::make_shared<const std::string>(text);
    std::vector<DataControlSession::Representation> contents;
    for (std::string_view type : kTextTypes)
        contents.push_back({std::string(type), data});
    if (session_->select(std::move(contents))) noteChange();
}

}  // namespace tessaril
