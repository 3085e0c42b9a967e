// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Notifier.h"

#include <vector>

namespace tessaril {

void RecordingNotifier::post(const Notification& notification) {
    ++posts_;
    std::erase_if(shown_, [&](const Notification& old) { return old.identifier == notification.identifier; });
    shown_.push_back(notification);
}

}  // namespace tessaril
