// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clipboard_x11/QtClipboardPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace tessaril {

namespace {

// Contents larger than this are not taken for text someone copied to paste.
constexpr qsizetype kTextCap = qsizetype{16} << 20;
// Password managers mark a copied secret with this type, whose data is "secret".
constexpr QLatin1StringView kConcealedType("x-kde-passwordManagerHint");

QClipboard& clipboard() {
    return *QGuiApplication::clipboard();
}

}  // namespace

QtClipboardPasteboard::QtClipboardPasteboard() {
    connection_ = QObject::connect(&clipboard(), &QClipboard::dataChanged, [this] { onDataChanged(); });
}

QtClipboardPasteboard::~QtClipboardPasteboard() {
    QObject::disconnect(connection_);
}

void QtClipboardPasteboard::onDataChanged() {
    if (!writing_) noteChange();
}

std::optional<std::string> QtClipboardPasteboard::plainText() const {
    const QMimeData* contents = clipboard().mimeData(QClipboard::Clipboard);
    if (contents == nullptr || !contents->hasText()) return std::nullopt;
    const QString text = contents->text();
    if (text.size() > kTextCap) return std::nullopt;
    return text.toStdString();
}

bool QtClipboardPasteboard::isConcealed() const {
    const QMimeData* contents = clipboard().mimeData(QClipboard::Clipboard);
    if (contents == nullptr || !contents->hasFormat(kConcealedType)) return false;
    // Only the hint is read. One that cannot be read is taken at its word: the contents stay unread.
    const QByteArray hint = contents->data(kConcealedType);
    return hint.isEmpty() || hint.startsWith("secret");
}

void QtClipboardPasteboard::clear() {
    // Giving the clipboard up would be announced later, by the display server, like another program's
    // change; holding it with contents of no type is announced at once, and pastes nothing.
    writing_ = true;
    clipboard().setMimeData(new QMimeData, QClipboard::Clipboard);
    writing_ = false;
    noteChange();
}

void QtClipboardPasteboard::writePlainText(std::string_view text) {
    writing_ = true;
    clipboard().setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QClipboard::Clipboard);
    writing_ = false;
    noteChange();
}

}  // namespace tessaril
