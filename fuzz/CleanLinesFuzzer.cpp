// SPDX-License-Identifier: GPL-3.0-or-later
// The tool's clean command end to end, with the shipped rules: arbitrary bytes as standard input go
// through cleanInputs, the function the tool runs, on in-memory streams. The first byte picks the
// options (bit 0 --quiet, bit 1 --line-buffered) and, in bits 2-4, a block size of 1 to 8 bytes for a
// second reading of the input by the line reader alone; the rest is the input. Checks: the reader
// splits the same lines whatever its block size (a line or a "\r\n" across blocks is one), and for
// every input line:
// exactly one answer line, ended as the line was ("\r\n" or "\n"; "\n" for a last line without);
// in plain mode the answer is the line byte for byte, or (for a line that may be a web link) a
// cleaned link holding no control character or blank; in --json mode the answer is valid UTF-8 and
// one JSON object whose "url" is the plain answer; the whole input given as one argument is answered
// the same as on standard input.
#include "cli/CleanCommand.h"
#include "cli/ExitStatus.h"
#include "cli/LineReader.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Text.h"
#include "fuzz/FuzzSupport.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tessaril;

struct Tool {
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, RulesEngineEnvironment{nullptr, nullptr, [](std::string_view) {}}};
    URLCleaner cleaner{engine};

    Tool() {
        const std::string clearURLs = fuzz::readResource("data.min.json");
        const std::string supplementary = fuzz::readResource("tessaril-supplementary.json");
        if (!engine.loadRuleBundle(clearURLs, supplementary) || engine.compiledProviders().empty()) std::abort();
    }
};

Tool& tool() {
    static Tool instance;
    return instance;
}

// An input line as a plain reading gives it, independently of the tool's reader: the text up to a
// line feed, without a carriage return just before it, and the ending that was cut off.
struct Line {
    std::string_view text;
    std::string_view ending;
};

std::vector<Line> linesOf(std::string_view input) {
    std::vector<Line> lines;
    while (!input.empty()) {
        const std::size_t feed = input.find('\n');
        if (feed == std::string_view::npos) {
            lines.push_back({input, {}});
            break;
        }
        const bool crlf = feed > 0 && input[feed - 1] == '\r';
        lines.push_back({input.substr(0, crlf ? feed - 1 : feed), crlf ? "\r\n" : "\n"});
        input.remove_prefix(feed + 1);
    }
    return lines;
}

std::string cleaned(const cli::CleanOptions& options, std::string_view input) {
    std::istringstream in{std::string(input)};
    std::ostringstream out;
    std::ostringstream err;
    FUZZ_CHECK(cli::cleanInputs(options, tool().cleaner, in, out, err) == cli::ExitStatus::success);
    return out.str();
}

// The answers of an output, one per input line: each must end with the ending its line calls for.
std::vector<std::string_view> answersTo(const std::vector<Line>& lines, std::string_view output) {
    std::vector<std::string_view> answers;
    for (const Line& line : lines) {
        const std::size_t feed = output.find('\n');
        FUZZ_CHECK(feed != std::string_view::npos);
        const std::string_view ending = line.ending.empty() ? "\n" : line.ending;
        const std::string_view answer = output.substr(0, feed + 1);
        FUZZ_CHECK(answer.ends_with(ending));
        answers.push_back(answer.substr(0, answer.size() - ending.size()));
        output.remove_prefix(feed + 1);
    }
    FUZZ_CHECK(output.empty());
    return answers;
}

// The line reader on its own, in blocks of `blockSize` bytes: the same lines and endings.
void checkReadInBlocks(std::string_view input, const std::vector<Line>& lines, std::size_t blockSize) {
    std::istringstream in{std::string(input)};
    cli::LineReader reader(in, blockSize);
    for (const Line& line : lines) {
        FUZZ_CHECK(reader.next() == line.text);
        FUZZ_CHECK(reader.ending() == line.ending);
    }
    FUZZ_CHECK(!reader.next() && !reader.error());
}

bool mayBeWebLink(std::string_view line) {
    const std::string_view trimmed = text::trim(line);
    return trimmed.starts_with("http://") || trimmed.starts_with("https://");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    cli::CleanOptions options;
    options.quiet = (data[0] & 1) != 0;
    options.lineBuffered = (data[0] & 2) != 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<Line> lines = linesOf(input);
    checkReadInBlocks(input, lines, 1 + ((data[0] >> 2) & 7));

    const std::string plainOutput = cleaned(options, input);
    const std::vector<std::string_view> plain = answersTo(lines, plainOutput);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (plain[i] == lines[i].text) continue;
        FUZZ_CHECK(mayBeWebLink(lines[i].text));
        FUZZ_CHECK(text::isValidUtf8(plain[i]) && fuzz::holdsNoControlOrBlank(plain[i]));
    }

    if (!input.empty()) {
        cli::CleanOptions asArgument = options;
        asArgument.urls = {std::string(input)};
        FUZZ_CHECK(cleaned(asArgument, input) == plainOutput);
    }

    cli::CleanOptions json = options;
    json.json = true;
    const std::string jsonOutput = cleaned(json, input);
    const std::vector<std::string_view> objects = answersTo(lines, jsonOutput);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(text::isValidUtf8(objects[i]));
        const auto object = nlohmann::json::parse(objects[i], nullptr, false);
        FUZZ_CHECK(object.is_object());
        if (text::isValidUtf8(lines[i].text)) {
            FUZZ_CHECK(object.at("input") == std::string(lines[i].text));
            FUZZ_CHECK(object.at("url") == std::string(plain[i]));
        }
    }
    return 0;
}
