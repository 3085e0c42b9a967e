// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the shipped supplementary rules: our own providers, then the parameter rules of the
// community's URL-tracking filter list, converted, with the list's exceptions and ours applied. Run
// by the build; prints what it took and what it left out.
//   tessaril_convert_filters OWN.json OUT.json [--exceptions FILE]... LIST...
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

#include "core/foundation/FileContents.h"
#include "tools/filter-converter/FilterConversion.h"

int main(int argc, char** argv) {
    using namespace tessaril;
    if (argc < 3) {
        std::cerr << "usage: tessaril_convert_filters OWN.json OUT.json [--exceptions FILE]... LIST...\n";
        return 2;
    }
    const auto own = readFileContents(argv[1]);
    if (!own) {
        std::cerr << "tessaril_convert_filters: cannot read " << argv[1] << '\n';
        return 1;
    }
    std::string exceptions;
    std::vector<filters::FilterListFile> lists;
    for (int i = 3; i < argc; ++i) {
        const bool isExceptions = std::string_view(argv[i]) == "--exceptions" && i + 1 < argc;
        if (isExceptions) ++i;
        auto text = readFileContents(argv[i]);
        if (!text) {
            std::cerr << "tessaril_convert_filters: cannot read " << argv[i] << '\n';
            return 1;
        }
        if (isExceptions) {
            exceptions += *text + "\n";
        } else {
            lists.push_back({std::filesystem::path(argv[i]).stem().string(), std::move(*text)});
        }
    }
    const auto conversion = filters::convertFilterLists(*own, lists, exceptions, "AdGuard URL Tracking");
    if (!conversion) {
        std::cerr << "tessaril_convert_filters: " << argv[1] << " is not a provider rule file\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << conversion->document.dump(1) << '\n';
    if (!out.flush()) {
        std::cerr << "tessaril_convert_filters: cannot write " << argv[2] << '\n';
        return 1;
    }
    std::cout << conversion->report.summary();
    return 0;
}
