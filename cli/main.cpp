// SPDX-License-Identifier: GPL-3.0-or-later
#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
    CLI::App app{"tessaril: removes tracking from links"};
    app.set_version_flag("--version", std::string("tessaril ") + TESSARIL_VERSION);
    CLI11_PARSE(app, argc, argv);
    return 0;
}
