// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>

#include "cli/ExitStatus.h"

namespace CLI {
class App;
}  // namespace CLI

namespace tessaril {
class HttpsClient;
}  // namespace tessaril

namespace tessaril::cli {

// `tessaril app-update check`: whether a newer desktop release is published, as the tray
// application's weekly check tells it. Exit 0 up to date, 1 a newer release, 3 the check failed.
class AppUpdateCommand {
public:
    explicit AppUpdateCommand(CLI::App& app);

    [[nodiscard]] bool parsed() const;
    // `network` is the HTTPS client to use; the real one when absent.
    static ExitStatus run(HttpsClient* network, std::ostream& out, std::ostream& err);

private:
    CLI::App* check_ = nullptr;
};

}  // namespace tessaril::cli
