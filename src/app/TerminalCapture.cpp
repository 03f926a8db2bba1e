// The terminal part of `velk --capture`: a shell session printing a build log, with a search
// open over it, a selection dragged with the mouse and the scroll bar showing.
#include "app/VelkApplication.h"

#include "core/terminal/TerminalSession.h"
#include "core/workspace/Workspace.h"
#include "ui/navigation/Navigator.h"
#include "ui/terminal/TerminalFindBar.h"
#include "ui/terminal/TerminalView.h"
#include "ui/window/MainWindow.h"
#include "ui/window/WindowCapture.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

const QString kLog = QStringLiteral(
    "for i in $(seq 1 160); do echo \"[$i/160] compiling src/module_$i.cpp\"; done; "
    "echo 'warning: see https://example.com/velk/docs/terminal?section=search#find-bar'; "
    "echo 'build finished'; exec sleep 60");

void report(const QString& message) {
    std::fprintf(stdout, "Capture error: %s\n", qPrintable(message));
    std::fflush(stdout);
}

// Presses the left button at one cell of the view, drags to another and lets go.
void drag(TerminalView* view, QPoint fromCell, QPoint toCell) {
    const auto at = [view](QPoint cell) {
        return QPointF(TerminalView::kLeftMargin + (cell.x() + 0.5) * view->cellWidth(),
                       TerminalView::kTopMargin + (cell.y() + 0.5) * view->lineHeight());
    };
    QMouseEvent press(QEvent::MouseButtonPress, at(fromCell), view->mapToGlobal(at(fromCell)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &press);
    QMouseEvent move(QEvent::MouseMove, at(toCell), view->mapToGlobal(at(toCell)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, at(toCell), view->mapToGlobal(at(toCell)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &release);
}

}  // namespace

void VelkApplication::captureTerminal(const QString& folder, const std::function<void()>& done) {
    const QString project = m_workspace->project.folder();
    const SessionPointer session =
        m_workspace->sessions.startSession(QStringLiteral("shell"), QStringLiteral("Build log"),
                                           kLog, project.isEmpty() ? QDir::homePath() : project);
    m_navigator->setDestination(Destination::Workspace);
    auto waited = std::make_shared<int>(0);
    auto step = std::make_shared<std::function<void()>>();
    *step = [this, folder, done, session, waited, step] {
        TerminalView* view = nullptr;
        for (TerminalView* candidate : m_window->findChildren<TerminalView*>()) {
            if (candidate->session() == session.get() && candidate->isVisible()) {
                view = candidate;
            }
        }
        if (!view || !session->screen().plainText().contains(QStringLiteral("build finished"))) {
            if (++*waited > 50) {
                report(QStringLiteral("the terminal did not show its output"));
                done();
                return;
            }
            QTimer::singleShot(100, *step);
            return;
        }
        view->openFindBar();
        if (auto* field = view->findBar()->findChild<QLineEdit*>()) {
            field->setText(QStringLiteral("module_14"));
        }
        // Back a little into the scrollback, so the scroll bar shows, with a selection.
        view->setScrollOffset(14);
        drag(view, QPoint(2, 3), QPoint(30, 5));
        QTimer::singleShot(800, this, [this, folder, done] {
            if (const Result<void> captured =
                    captureWindow(m_window.get(),
                                  folder + QStringLiteral("/Terminal (search and selection).png"));
                !captured) {
                report(captured.error().message);
            }
            done();
        });
    };
    QTimer::singleShot(300, *step);
}
