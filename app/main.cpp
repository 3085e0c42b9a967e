// SPDX-License-Identifier: GPL-3.0-or-later
// tessaril-app: the tray application. It watches the clipboard from the desktop's tray until the
// user quits it from the menu, the session ends, or it gets SIGINT or SIGTERM.
#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <iostream>
#include <memory>
#include <string_view>

#include <sys/socket.h>
#include <unistd.h>

#include "app/desktop/PasteboardChoice.h"
#include "app/desktop/QtDesktopShell.h"
#include "app/desktop/QtTaskExecutor.h"
#include "app/desktop/SingleInstance.h"
#include "app/state/AppPlatform.h"
#include "app/state/AppState.h"
#include "app/state/AppVersion.h"
#include "app/tray/TrayIcon.h"
#include "core/foundation/Clock.h"
#include "platform/clipboard_x11/QtClipboardPasteboard.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/http/CurlHttpsClient.h"
#include "platform/notifications_dbus/DBusNotifier.h"
#include "platform/paths/CoreResources.h"
#include "platform/paths/XdgPaths.h"

namespace {

using namespace tessaril;

constexpr std::string_view kUsage =
    "Usage: tessaril-app [--version] [--help]\n"
    "\n"
    "Watches the clipboard from the desktop's tray: copied links lose their tracking parameters,\n"
    "risky terminal commands are flagged. Quit it from the tray menu (\"Quit Tessaril\") or with\n"
    "Ctrl+C. Starting it again while it runs opens its preferences.\n"
    "\n"
    "Settings are shared with the tessaril command-line tool (see `tessaril --help`).\n";

// SIGINT and SIGTERM end the event loop as "Quit" does, so the session ending or Ctrl+C in a
// terminal stops the application cleanly: the handler only writes a byte that the loop reads.
int quitSignalSocket[2] = {-1, -1};

void onQuitSignal(int /*signal*/) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(quitSignalSocket[0], &byte, 1);
}

std::unique_ptr<QSocketNotifier> quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, quitSignalSocket) != 0) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(quitSignalSocket[1], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, &QApplication::quit);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return notifier;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--version") {
            std::cout << "tessaril-app " << AppVersion::compiled().shortVersion << '\n';
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (argument.starts_with("--")) {
            std::cerr << "tessaril-app: unknown option " << argument << "\n\n" << kUsage;
            return 2;
        }
    }

    // Before Qt starts: on a Wayland desktop without a data-control protocol, Qt must use XWayland.
    PasteboardChoice clipboard = choosePasteboardForThisProcess();
    if (clipboard.kind == PasteboardChoice::Kind::None) {
        std::cerr << "tessaril-app: " << clipboard.message << '\n';
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Tessaril");
    QApplication::setApplicationVersion(QString::fromStdString(AppVersion::compiled().shortVersion));
    // Closing the last window leaves the application in the tray.
    QApplication::setQuitOnLastWindowClosed(false);
    const auto quitSignals = quitOnSignals(app);

    const XdgPaths paths;
    QtDesktopShell shell(XdgAutostart(paths.configDirectory(), QCoreApplication::applicationFilePath().toStdString()));
    SingleInstance instance([&shell] { shell.openWindow("settings"); });
    if (instance.claim() == SingleInstance::Claim::AlreadyRunning) {
        std::cout << "tessaril-app: Tessaril is already running; its preferences are open\n";
        return 0;
    }

    const auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(paths));
    QtTaskExecutor executor;
    std::unique_ptr<Pasteboard> pasteboard = clipboard.kind == PasteboardChoice::Kind::Wayland
                                                 ? std::move(clipboard.wayland)
                                                 : std::make_unique<QtClipboardPasteboard>();
    DBusNotifier notifier(/*isTrayApplication=*/true);
    CurlHttpsClient https;
    const SystemClock clock;
    const auto& resources = coreResources();
    AppPlatform platform{
        *defaults, executor, *pasteboard, notifier, https, clock, paths, resources ? &*resources : nullptr, shell};

    AppState state(platform);
    if (!clipboard.message.empty()) {
        std::cerr << "tessaril-app: " << clipboard.message << '\n';
        if (notifier.isAvailable()) notifier.post({"tessaril-clipboard", "Tessaril", clipboard.message});
    }
    // Asked for by the last run, which had no tray: taken before this run reports its own.
    const bool openPreferences = state.takeOpenPreferencesAtStart();
    TrayIcon tray(state);
    tray.show();
    if (openPreferences) shell.openWindow("settings");
    return QApplication::exec();
}
