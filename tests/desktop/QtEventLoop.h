// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

#include <chrono>
#include <functional>
#include <optional>

namespace tessaril {

// Runs the event loop until `condition` holds, at most `limit`; whether it held.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    for (auto deadline = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < deadline;) {
        if (condition()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return condition();
}

// Runs the event loop long enough for a late announcement to arrive.
inline void settle() {
    eventually([] { return false; }, std::chrono::milliseconds(300));
}

// Runs `program` to its end while this process keeps answering the display server and the bus (a
// program reading our clipboard waits on us); its standard output, or nothing when it failed.
inline std::optional<QByteArray> runToEnd(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!eventually([&] { return process.state() == QProcess::NotRunning; }) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

}  // namespace tessaril
