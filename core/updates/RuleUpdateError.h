// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace tessaril {

// Why a rules check or installation failed. what() is errorDescription(), the text the user sees.
class RuleUpdateError : public std::runtime_error {
public:
    enum class Kind {
        invalidManifest,
        incompatibleAppVersion,
        network,
        missingFile,
        hashMismatch,
        invalidRules,
        fileSystem
    };

    RuleUpdateError(Kind kind, std::string detail);

    [[nodiscard]] Kind kind() const { return kind_; }
    // The case's own string: a validation message, a version, a path, a file name or a reason.
    [[nodiscard]] const std::string& detail() const { return detail_; }
    [[nodiscard]] std::string errorDescription() const { return what(); }

    bool operator==(const RuleUpdateError& other) const { return kind_ == other.kind_ && detail_ == other.detail_; }

private:
    Kind kind_;
    std::string detail_;
};

}  // namespace tessaril
