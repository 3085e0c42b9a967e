// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/DomainExceptionError.h"

namespace tessaril {

std::string_view description(DomainExceptionError error) {
    switch (error) {
        case DomainExceptionError::invalidHost:
            return "Enter a host name such as example.com, or a web link to the site.";
        case DomainExceptionError::storeFailed:
            return "The site exceptions could not be saved.";
    }
    return "The site exceptions could not be saved.";
}

}  // namespace tessaril
