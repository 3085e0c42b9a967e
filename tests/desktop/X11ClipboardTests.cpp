// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt clipboard adapter on a real X server (run-under-x11.sh starts one), with xclip and a small
// Qt program of the test's own as the other programs on the desktop.
#include "platform/clipboard_x11/QtClipboardPasteboard.h"
#include "tests/desktop/QtEventLoop.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryFile>

namespace tessaril {
namespace {

// Another program copies `data` offered as `type`; xclip keeps the clipboard until someone takes it.
void xclipCopy(const QByteArray& data, const QString& type = QStringLiteral("UTF8_STRING")) {
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(data);
    file.close();
    // xclip leaves a process behind that owns the clipboard, holding no pipe of ours.
    ASSERT_EQ(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                       QStringLiteral("xclip -selection clipboard -t \"$0\" -i \"$1\" "
                                                                      ">/dev/null 2>&1"),
                                                       type, file.fileName()}),
              0);
}

std::optional<QByteArray> xclipPaste() {
    return runToEnd(QStringLiteral("xclip"),
                    {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")});
}

class X11PasteboardTest : public testing::Test {
protected:
    // Waits for the change that `copy` makes, then checks it counted once; an own write (`atOnce`)
    // has counted by the time it returns.
    void expectOneChange(const std::function<void()>& copy, bool atOnce = false) {
        const auto before = pasteboard.changeCount();
        copy();
        if (atOnce) {
            EXPECT_EQ(pasteboard.changeCount(), before + 1);
        }
        EXPECT_TRUE(eventually([&] { return pasteboard.changeCount() > before; }));
        settle();
        EXPECT_EQ(pasteboard.changeCount(), before + 1);
    }

    QtClipboardPasteboard pasteboard;
};

TEST_F(X11PasteboardTest, AnotherProgramsCopiesCountOnceEachAndOnlyTextReadsAsText) {
    const std::string link = "https://shop.example/item?id=3&utm_source=mail";
    expectOneChange([&] { xclipCopy(QByteArray::fromStdString(link)); });
    EXPECT_EQ(pasteboard.plainText(), link);
    EXPECT_FALSE(pasteboard.isConcealed());
    expectOneChange([] { xclipCopy(QByteArray("\x89PNG\r\n\x1a\n", 8), QStringLiteral("image/png")); });
    EXPECT_EQ(pasteboard.plainText(), std::nullopt);
}

// The program's own writes count once, when made; another program writing the very same text after
// it still counts, as does a program that takes the clipboard after a clear.
TEST_F(X11PasteboardTest, OwnWritesCountOnceAndOtherProgramsPasteThem) {
    const std::string text = "caf\xC3\xA9 \xE2\x9C\x93 <b>&amp;</b>";
    expectOneChange([&] { pasteboard.writePlainText(text); }, true);
    EXPECT_EQ(xclipPaste(), QByteArray::fromStdString(text));
    EXPECT_EQ(pasteboard.plainText(), text);
    expectOneChange([&] { xclipCopy(QByteArray::fromStdString(text)); });

    expectOneChange([&] { pasteboard.clear(); }, true);
    EXPECT_EQ(pasteboard.plainText(), std::nullopt);
    const auto pasted = xclipPaste();
    EXPECT_TRUE(!pasted || pasted->isEmpty());
    expectOneChange([] { xclipCopy("after the clear"); });
    EXPECT_EQ(pasteboard.plainText(), "after the clear");
}

// Telling a secret apart reads the hint alone: the program that offers it is never asked for text.
TEST_F(X11PasteboardTest, ConcealedContentsAreRecognisedWithoutReadingTheText) {
    QProcess owner;
    QByteArray log;
    expectOneChange([&] {
        owner.start(QStringLiteral(TESSARIL_X11_CLIPBOARD_OWNER), {QStringLiteral("hunter2")});
        ASSERT_TRUE(eventually([&] {
            log += owner.readAllStandardOutput();
            return log.contains("ready\n");
        }));
    });
    EXPECT_TRUE(pasteboard.isConcealed());
    settle();
    log += owner.readAllStandardOutput();
    EXPECT_EQ(log, "ready\nread x-kde-passwordManagerHint\n");
    owner.kill();
    owner.waitForFinished();
}

}  // namespace
}  // namespace tessaril

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
