// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tray/TrayIcon.h"
#include "tests/app/AppHarness.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QPixmap>

#include <string>
#include <vector>

namespace tessaril {
namespace {

// One line per action: "--" for a separator, then "[x] " or "[ ] " for a checkable one, "(off) " for
// one that cannot be chosen, and the text as shown.
std::vector<std::string> lines(const QMenu& menu) {
    std::vector<std::string> result;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            result.emplace_back("--");
            continue;
        }
        std::string line = action->isCheckable() ? (action->isChecked() ? "[x] " : "[ ] ") : "";
        if (!action->isEnabled()) line += "(off) ";
        result.push_back(line + action->text().toStdString());
    }
    return result;
}

TEST(TrayIconTest, OpeningTheMenuBuildsItFromTheStateAndTheIconFollowsIt) {
    testing::AppHarness app;
    AppState& state = app.start();
    TrayIcon tray(state);
    const QImage enabled = tray.systemTrayIcon().icon().pixmap(22, 22).toImage();
    EXPECT_FALSE(enabled.isNull());

    app.copy("https://example.com/p?utm_source=a&id=1");
    tray.menu().popup({0, 0});
    // The model's lines are checked on their own; here, how each kind of entry shows.
    const auto shown = lines(tray.menu());
    ASSERT_EQ(shown.size(), 19U);
    EXPECT_EQ(std::vector(shown.begin(), shown.begin() + 9),
              (std::vector<std::string>{
                  "[x] Auto-Clean Copied Links: ON", "[ ] Auto-Resolve Share Links: OFF", "Clean Copied Link Now", "--",
                  "(off) Last clean", "Original: https://example.com/p?utm_source=a&&id=1",
                  "Cleaned: https://example.com/p?id=1", "Copy Wayback Link", "(off) Removed: utm_source"}));
    EXPECT_EQ(tray.menu().actions()[1]->toolTip().toStdString(),
              "Optional network resolution for supported Instagram, Threads, and Reddit share wrappers. Off by "
              "default.");
    EXPECT_TRUE(tray.menu().grab().save(QStringLiteral(TESSARIL_TRAY_PICTURES "/tray-menu.png")));
    tray.menu().hide();

    // Choosing the switch turns auto-clean off, and the icon turns to the outline.
    tray.menu().actions()[0]->trigger();
    EXPECT_FALSE(state.monitor().isEnabled());
    EXPECT_NE(tray.systemTrayIcon().icon().pixmap(22, 22).toImage(), enabled);
    EXPECT_EQ(tray.systemTrayIcon().icon().pixmap(22, 22).toImage(),
              TrayIcon::icon(AppState::MenuBarIcon::linkOutline).pixmap(22, 22).toImage());

    // The offscreen desktop has no tray.
    EXPECT_FALSE(tray.show());
    EXPECT_EQ(app.err.str(), "tessaril: " + std::string(AppState::noTrayHostText) + "\n");
}

}  // namespace
}  // namespace tessaril

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
