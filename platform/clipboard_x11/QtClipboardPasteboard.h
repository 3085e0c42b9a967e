// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Pasteboard.h"

#include <QMetaObject>

#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The display server's clipboard through QClipboard (its Clipboard mode, not the X11 primary
// selection). On X11 Qt learns of other programs' copies from XFixes, so changes are counted
// without anyone reading the contents.
//
// Main thread only, like QClipboard itself, and only while a QGuiApplication exists. A read waits
// for the program that owns the contents at most as long as Qt's X11 clipboard allows (seconds). Qt announces
// the program's own writes synchronously, inside the call that makes them: those announcements are
// ignored, since the write has already counted, and another program cannot end up among them.
class QtClipboardPasteboard final : public Pasteboard {
public:
    QtClipboardPasteboard();
    ~QtClipboardPasteboard() override;

    [[nodiscard]] std::optional<std::string> plainText() const override;
    [[nodiscard]] bool isConcealed() const override;
    void clear() override;
    void writePlainText(std::string_view text) override;

private:
    void onDataChanged();

    QMetaObject::Connection connection_;
    bool writing_ = false;
};

}  // namespace tessaril
