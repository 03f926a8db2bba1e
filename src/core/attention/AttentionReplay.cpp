#include "core/attention/AttentionReplay.h"

#include "core/terminal/TerminalScreen.h"

#include <QStringList>

#include <algorithm>

AttentionTracker replayAttention(const QByteArray& recording, int rows, int columns,
                                 const AttentionPatterns& patterns, qsizetype chunk) {
    AttentionTracker tracker(patterns);
    TerminalScreen screen(rows, columns);
    qint64 now = 0;
    screen.setOnEvent([&](const TerminalScreenEvent& event) {
        switch (event.kind) {
            case TerminalScreenEvent::Kind::TitleChanged:
                tracker.titleChanged(screen.title(), now);
                break;
            case TerminalScreenEvent::Kind::ProgressChanged:
                tracker.progressChanged(screen.progress().state != 0, now);
                break;
            case TerminalScreenEvent::Kind::Notification:
                tracker.notified((event.title + u' ' + event.body).trimmed(), now);
                break;
            case TerminalScreenEvent::Kind::Bell:
                tracker.bell(now);
                break;
            default:
                break;
        }
    });
    const auto visible = [&] {
        QStringList lines;
        for (int row = 0; row < screen.rows(); ++row) {
            lines.append(screen.rowText(row));
        }
        return lines.join(u'\n');
    };

    tracker.started(now);
    chunk = std::max<qsizetype>(chunk, 1);
    for (qsizetype offset = 0; offset < recording.size(); offset += chunk) {
        screen.feed(QByteArrayView(recording.constData() + offset,
                                   std::min(chunk, recording.size() - offset)));
        tracker.output(now);
        tracker.evaluate(now, QString());
    }
    // Then quiet: first long enough to read the screen, then for the waiting rule.
    for (const qint64 quiet : {AttentionTracker::kQuietMs, AttentionTracker::kWaitingMs}) {
        now = quiet;
        tracker.evaluate(now, visible());
    }
    return tracker;
}
