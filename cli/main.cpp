// SPDX-License-Identifier: GPL-3.0-or-later
#include <iostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/LargePageHeap.h"
#include "cli/ToolContext.h"

int main(int argc, char** argv) {
    tessaril::cli::reserveHeapOnLargePages();
    tessaril::cli::ToolContext::leaveRulesToProcessExit();
    std::ios::sync_with_stdio(false);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return tessaril::cli::run(arguments, std::cin, std::cout, std::cerr);
}
