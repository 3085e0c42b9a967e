// SPDX-License-Identifier: GPL-3.0-or-later
// Another program for the X11 clipboard tests: it copies argv[1] as text, marked as a password
// manager marks a secret, says "ready" once it owns the clipboard, then names on its standard
// output every type some program reads from it, until it is killed.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdio>

namespace {

class LoggingMimeData final : public QMimeData {
protected:
    QVariant retrieveData(const QString& type, QMetaType preferred) const override {
        std::printf("read %s\n", type.toUtf8().constData());
        std::fflush(stdout);
        return QMimeData::retrieveData(type, preferred);
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    auto* contents = new LoggingMimeData;
    contents->setText(QString::fromUtf8(argc > 1 ? argv[1] : ""));
    contents->setData(QStringLiteral("x-kde-passwordManagerHint"), "secret");
    QGuiApplication::clipboard()->setMimeData(contents);
    std::printf("ready\n");
    std::fflush(stdout);
    return QGuiApplication::exec();
}
