// The main window and its pages against a real workspace: composer rules, the session deck
// layout, the sidebar's symbols, their drawings kept between runs, and the badge, the tray icon
// and recent projects, notices, page capture and the quit policy.
#include "UiFixture.h"
#include "core/appearance/ThemePreset.h"
#include "core/terminal/TerminalSession.h"
#include "support/TestSupport.h"
#include "ui/kit/CaretBlinkTimeout.h"
#include "ui/kit/IconCache.h"
#include "ui/kit/Icons.h"
#include "ui/kit/QtDialogs.h"
#include "ui/window/MainWindow.h"
#include "ui/window/QuitPolicy.h"
#include "ui/window/TrayAttention.h"
#include "ui/window/WindowCapture.h"
#include "ui/workspace/Composer.h"
#include "ui/workspace/SessionDeck.h"
#include "ui/workspace/TerminalPane.h"
#include "ui/workspace/WorkspacePage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace std::chrono_literals;
using testing_support::processEventsFor;
using testing_support::waitUntil;

namespace {

// The WCAG contrast ratio of two colours, 1 to 21.
double contrastRatio(QRgb a, QRgb b) {
    const auto luminance = [](QRgb rgb) {
        const auto channel = [](int value) {
            const double c = value / 255.0;
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) +
               0.0722 * channel(qBlue(rgb));
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the text in `area` of `image`: its most common colour is the background,
// and the text's strongest pixel is measured against it.
double textContrast(const QImage& image, const QRect& area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[image.pixel(x, y) | 0xFF000000u];
        }
    }
    const QRgb background =
        std::max_element(counts.keyValueBegin(), counts.keyValueEnd(),
                         [](const auto& a, const auto& b) { return a.second < b.second; })
            ->first;
    double strongest = 1;
    for (auto it = counts.keyBegin(); it != counts.keyEnd(); ++it) {
        strongest = std::max(strongest, contrastRatio(*it, background));
    }
    return strongest;
}

// Watches widgets being polished: a style change that reaches a widget already polished runs
// the style over it (and everything below it) again.
class RepolishWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Polish && !m_polished.contains(watched)) {
            m_polished.insert(watched);
            connect(watched, &QObject::destroyed, this,
                    [this](QObject* gone) { m_polished.remove(gone); });
        } else if (event->type() == QEvent::StyleChange && m_polished.contains(watched)) {
            repolished.append(QString::fromLatin1(watched->metaObject()->className()));
        }
        return false;
    }
    qsizetype polishedCount() const { return m_polished.size(); }
    QStringList repolished;

private:
    QSet<QObject*> m_polished;
};

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override {
        fixture.workspace.sessions.stopAll();
        waitUntil([this] { return runningSessions() == 0; }, 5s);
    }

    MainWindow& window() {
        if (!m_window) {
            m_window =
                std::make_unique<MainWindow>(fixture.workspace, fixture.navigator, fixture.theme);
            m_window->resize(1440, 900);
            m_window->show();
        }
        return *m_window;
    }
    WorkspacePage* workspacePage() {
        return static_cast<WorkspacePage*>(window().page(Destination::Workspace));
    }
    SessionPointer startSession(const QString& command = "exec sleep 30") {
        return fixture.workspace.sessions.startSession("shell", "test", command, folder.path());
    }
    qsizetype runningSessions() const {
        const auto& sessions = fixture.workspace.sessions.sessions();
        return std::count_if(sessions.begin(), sessions.end(),
                             [](const SessionPointer& session) { return session->running(); });
    }
    QString makeFolder(const QString& name) {
        const QString path = QDir::cleanPath(folder.filePath(name));
        QDir().mkpath(path);
        return path;
    }

    UiFixture fixture;
    QTemporaryDir folder;
    std::unique_ptr<MainWindow> m_window;
};

TEST_F(MainWindowTest, composerNeedsAProjectAndANonBlankPromptAndShowsThePreparation) {
    testing_support::ScopedEnvironment path(
        "PATH", testing_support::fixturesBin().toLocal8Bit() + ':' + qgetenv("PATH"));
    fixture.workspace.providers.refreshProviders();
    Composer* composer = workspacePage()->composer();
    EXPECT_EQ(composer->projectLabel()->text(), "Select a project first");
    EXPECT_FALSE(composer->runButton()->isEnabled());

    fixture.workspace.launcher.setPrompt("  \n\t \n ");
    EXPECT_FALSE(composer->runButton()->isEnabled());
    // A quick task card puts its prompt in the composer.
    for (QPushButton* button : workspacePage()->findChildren<QPushButton*>()) {
        if (button->toolTip().startsWith("Review this project")) {
            button->click();
        }
    }
    EXPECT_TRUE(composer->editor()->toPlainText().startsWith("Review this project"));
    composer->editor()->setPlainText("Fix the tests");
    EXPECT_EQ(fixture.workspace.launcher.prompt(), "Fix the tests");
    EXPECT_TRUE(composer->runButton()->isEnabled());
    EXPECT_EQ(composer->runButton()->text(), "Run task");
    EXPECT_FALSE(composer->cancelButton()->isVisible());

    fixture.workspace.project.setFolder(makeFolder("demo"));
    EXPECT_EQ(composer->projectLabel()->text(), "demo");

    // Separate copies are prepared first: the run waits and can be cancelled.
    ASSERT_TRUE(
        waitUntil([&] { return fixture.workspace.providers.available().contains("claude"); }));
    fixture.workspace.launcher.setSelectedProviders({"claude"});
    composer->separateCopiesButton()->click();
    composer->runButton()->click();
    EXPECT_EQ(composer->runButton()->text(), "Preparing…");
    EXPECT_FALSE(composer->runButton()->isEnabled());
    EXPECT_TRUE(composer->cancelButton()->isVisible());
    composer->cancelButton()->click();
    EXPECT_EQ(composer->runButton()->text(), "Run task");
    EXPECT_FALSE(composer->cancelButton()->isVisible());
}

// A stylesheet anywhere above a widget makes each polish of it match the sheet's rules; the
// window is drawn by the application's style instead, and each widget is polished once.
TEST_F(MainWindowTest, theWindowOpensWithEachWidgetPolishedOnceAndNoStyleSheet) {
    RepolishWatch watch;
    qApp->installEventFilter(&watch);
    window();
    qApp->removeEventFilter(&watch);
    EXPECT_GT(watch.polishedCount(), 50) << "the window was built while watched";
    EXPECT_EQ(watch.repolished.join(u' ').toStdString(), "");
    QStringList sheets;
    QList<QWidget*> widgets = window().findChildren<QWidget*>();
    widgets.append(&window());
    for (const QWidget* widget : widgets) {
        if (!widget->styleSheet().isEmpty()) {
            sheets.append(QString::fromLatin1(widget->metaObject()->className()));
        }
    }
    EXPECT_EQ(sheets.join(u' ').toStdString(), "");
    EXPECT_EQ(qApp->styleSheet().toStdString(), "");
}

TEST_F(MainWindowTest, aConnectionCheckThatChangesNothingKeepsTheAssistantRows) {
    const auto firstRow = [this]() -> QPushButton* {
        for (QPushButton* button : workspacePage()->findChildren<QPushButton*>()) {
            if (button->property("bare").toBool()) {
                return button;
            }
        }
        return nullptr;
    };
    QPushButton* const row = firstRow();
    ASSERT_TRUE(row);
    Q_EMIT fixture.workspace.providers.connectionStatusChanged();
    EXPECT_EQ(firstRow(), row) << "the rows were rebuilt into the same rows";
    fixture.theme.apply(ThemePreset::all().constLast());
    EXPECT_NE(firstRow(), row) << "new colours redraw the rows";
    EXPECT_TRUE(firstRow());
}

// The sidebar's symbols are drawn in the theme's colours, the page shown in the accent, and
// follow every theme switch and page change, back to colours drawn before included.
TEST_F(MainWindowTest, sidebarSymbolsFollowThePageAndEveryThemeSwitch) {
    const auto entry = [this](Destination destination) -> QToolButton* {
        for (QToolButton* button : window().findChildren<QToolButton*>()) {
            if (button->text() == displayName(destination)) {
                return button;
            }
        }
        return nullptr;
    };
    // The colour of the symbol's solid pixels; empty when it has none or more than one.
    const auto symbolColour = [&](Destination destination) {
        const QImage image = entry(destination)->icon().pixmap(16, 16).toImage();
        QSet<QRgb> solid;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(image.pixel(x, y)) == 255) {
                    solid.insert(image.pixel(x, y));
                }
            }
        }
        return solid.size() == 1 ? QColor(*solid.begin()).name() : QString();
    };
    ASSERT_TRUE(entry(Destination::Workspace) && entry(Destination::TeamRuns));
    if (Icons::filePath(iconName(Destination::TeamRuns)).isEmpty()) {
        GTEST_SKIP() << "the Adwaita symbolic icons are not installed";
    }
    for (const ThemePreset& preset :
         {ThemePreset::all().constFirst(), ThemePreset::all().constLast(),
          ThemePreset::all().constFirst()}) {
        SCOPED_TRACE(preset.id.toStdString());
        fixture.theme.apply(preset);
        EXPECT_EQ(symbolColour(Destination::Workspace), fixture.theme.accent().name());
        EXPECT_EQ(symbolColour(Destination::TeamRuns), fixture.theme.text().name());
        fixture.navigator.setDestination(Destination::TeamRuns);
        EXPECT_EQ(symbolColour(Destination::Workspace), fixture.theme.text().name());
        EXPECT_EQ(symbolColour(Destination::TeamRuns), fixture.theme.accent().name());
        fixture.navigator.setDestination(Destination::Workspace);
    }
}

// A symbol's file of one shape, modified at `time`; `padding` spaces set the file's size.
void writeShape(const QString& path, const char* shape, int padding, const QDateTime& time) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'>" +
               QByteArray(shape) + QByteArray(padding, ' ') + "</svg>");
    file.flush();
    ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
}

const char* const kCircle = "<circle cx='8' cy='8' r='6'/>";
const char* const kSquare = "<rect x='3' y='3' width='10' height='10'/>";
constexpr int kCirclePadding = 20;

// One run that finds the symbol and draws it at `sides`, then saves what it drew.
void runAndSave(const QString& cacheFile, const QStringList& searchFolders, const QString& svg,
                std::initializer_list<int> sides) {
    IconCache run(cacheFile, searchFolders);
    run.file(QStringLiteral("shape"), [&] { return svg; });
    for (int side : sides) {
        run.drawing(svg, side);
    }
    if (const QByteArray drawn = run.takeUnsaved(); !drawn.isEmpty()) {
        IconCache::write(cacheFile, drawn);
    }
}

TEST(IconCacheTest, aLaterRunTakesUnchangedDrawingsFromTheCacheAndDrawsChangedFilesAgain) {
    QTemporaryDir folder;
    const QString cacheFile = folder.filePath(QStringLiteral("icons.cache"));
    const QString svg = folder.filePath(QStringLiteral("shape-symbolic.svg"));
    const QStringList searchFolders{folder.path()};
    const auto freshlyDrawn = [&](int side) {
        return IconCache(folder.filePath(QStringLiteral("none")), searchFolders).drawing(svg, side);
    };
    const QDateTime written = QDateTime::currentDateTime().addSecs(-60);
    writeShape(svg, kCircle, kCirclePadding, written);
    const QImage circle = freshlyDrawn(16);
    ASSERT_FALSE(circle.isNull());
    runAndSave(cacheFile, searchFolders, svg, {16, 32});
    {
        IconCache run(cacheFile, searchFolders);
        int locates = 0;
        EXPECT_EQ(run.file(QStringLiteral("shape"), [&] { return ++locates, svg; }), svg);
        EXPECT_EQ(locates, 0);
        EXPECT_EQ(run.drawing(svg, 16), circle);
        EXPECT_EQ(run.drawing(svg, 32), freshlyDrawn(32));
        // Nothing was drawn, so there is nothing to save.
        EXPECT_FALSE(run.hasUnsaved());
    }

    // A file rewritten at the same size, and one replaced under its former time.
    for (const bool sameTime : {false, true}) {
        SCOPED_TRACE(sameTime ? "replaced under the same time" : "rewritten at the same size");
        writeShape(svg, kCircle, kCirclePadding, written);
        runAndSave(cacheFile, searchFolders, svg, {16});
        const int sameSize = kCirclePadding + int(qstrlen(kCircle)) - int(qstrlen(kSquare));
        writeShape(svg, kSquare, sameTime ? sameSize + 1 : sameSize,
                   sameTime ? written : written.addSecs(1));
        IconCache run(cacheFile, searchFolders);
        int locates = 0;
        EXPECT_EQ(run.file(QStringLiteral("shape"), [&] { return ++locates, svg; }), svg);
        EXPECT_EQ(locates, 1);
        const QImage square = run.drawing(svg, 16);
        EXPECT_EQ(square, freshlyDrawn(16));
        EXPECT_NE(square, circle);
        EXPECT_TRUE(run.hasUnsaved());
    }
}

TEST(IconCacheTest, aDamagedCacheFileOrOneForOtherFoldersIsIgnored) {
    QTemporaryDir folder;
    const QString cacheFile = folder.filePath(QStringLiteral("icons.cache"));
    const QString svg = folder.filePath(QStringLiteral("shape-symbolic.svg"));
    const QStringList searchFolders{folder.path()};
    writeShape(svg, kCircle, 0, QDateTime::currentDateTime());
    const QImage circle =
        IconCache(folder.filePath(QStringLiteral("none")), searchFolders).drawing(svg, 16);
    runAndSave(cacheFile, searchFolders, svg, {16});
    QFile file(cacheFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    // Each damaged file is ignored whole: the symbol is drawn again, as it is. Each is a new
    // file, since rewriting one waits for the disk.
    int files = 0;
    const auto drawnAgainFrom = [&](const QByteArray& contents, const QStringList& folders) {
        QFile damaged(folder.filePath(QString::number(++files)));
        damaged.open(QIODevice::WriteOnly);
        damaged.write(contents);
        damaged.close();
        IconCache run(damaged.fileName(), folders);
        return run.drawing(svg, 16) == circle && run.hasUnsaved();
    };
    EXPECT_TRUE(drawnAgainFrom(saved, {folder.path(), QStringLiteral("/usr/share")}));
    for (qsizetype size = 0; size < saved.size(); size += 3) {
        EXPECT_TRUE(drawnAgainFrom(saved.first(size), searchFolders)) << "cut to " << size;
    }
    for (qsizetype at = 0; at < saved.size(); at += 3) {
        QByteArray damaged = saved;
        damaged[at] = char(damaged[at] ^ 0x10);
        EXPECT_TRUE(drawnAgainFrom(damaged, searchFolders)) << "byte " << at << " changed";
    }
}

TEST_F(MainWindowTest, gridLaysOutTwoSessionsFullWidthAndThreeTwoPerRowWithAFloor) {
    const std::array<std::array<int, 3>, 5> widths = {
        {{1, 1000, 998}, {2, 1000, 998}, {2, 100, 240}, {3, 1000, 493}, {4, 400, 260}}};
    for (const auto& [sessions, available, expected] : widths) {
        EXPECT_EQ(PaneGrid::paneWidth(sessions, available), expected)
            << sessions << " in " << available;
    }

    fixture.navigator.setFocusMode(false);
    fixture.navigator.setDestination(Destination::History);
    window();
    startSession();
    // A new session brings the Workspace page forward.
    EXPECT_EQ(fixture.navigator.destination(), Destination::Workspace);
    startSession();
    processEventsFor(50ms);
    SessionDeck* deck = workspacePage()->deck();
    EXPECT_FALSE(workspacePage()->showsWelcome());
    QList<TerminalPane*> panes = deck->visiblePanes();
    ASSERT_EQ(panes.size(), 2);
    EXPECT_EQ(panes[0]->x(), panes[1]->x());
    EXPECT_LT(panes[0]->y(), panes[1]->y());
    EXPECT_EQ(panes[0]->width(), PaneGrid::paneWidth(2, deck->grid()->parentWidget()->width()));

    startSession();
    processEventsFor(50ms);
    panes = deck->visiblePanes();
    ASSERT_EQ(panes.size(), 3);
    EXPECT_EQ(panes[0]->y(), panes[1]->y());
    EXPECT_LT(panes[0]->x(), panes[1]->x());
    EXPECT_EQ(panes[0]->width(), PaneGrid::paneWidth(3, deck->grid()->parentWidget()->width()));

    fixture.navigator.setFocusMode(true);
    fixture.workspace.sessions.setActiveSessionID(fixture.workspace.sessions.sessions()[1]->id());
    panes = deck->visiblePanes();
    ASSERT_EQ(panes.size(), 1);
    EXPECT_EQ(panes[0]->session(), fixture.workspace.sessions.sessions()[1].get());
    EXPECT_TRUE(panes[0]->isVisible());
}

TEST_F(MainWindowTest, theBadgeTheTitleTheTrayAndThePanesShowWhichSessionsNeedYou) {
    EXPECT_FALSE(window().sessionBadge()->isVisible());
    QPixmap plain(22, 22);
    plain.fill(Qt::darkCyan);
    QSystemTrayIcon tray{QIcon(plain)};
    TrayAttention trayAttention(tray, fixture.workspace.attention);
    const auto trayPlain = [&] { return tray.icon().pixmap(22, 22).toImage() == plain.toImage(); };
    EXPECT_EQ(tray.toolTip(), "VELK");
    EXPECT_TRUE(trayPlain());
    const auto asking = [&] {
        return fixture.workspace.sessions.startSession(
            "claude", "test", "printf 'Do you want to proceed?\\n'; read answer", folder.path());
    };
    const SessionPointer first = asking();
    const SessionPointer second = asking();
    ASSERT_TRUE(waitUntil([&] { return window().sessionBadge()->text() == "2"; }));
    EXPECT_TRUE(window().sessionBadge()->isVisible());
    EXPECT_EQ(window().windowTitle(), "VELK (2 need you)");
    EXPECT_EQ(tray.toolTip(), "VELK — 2 sessions need you");
    EXPECT_FALSE(trayPlain()) << "the tray icon carries a badge";
    TerminalPane* pane = workspacePage()->deck()->paneFor(first->id());
    ASSERT_TRUE(pane);
    EXPECT_EQ(pane->statusText(), "Needs you");

    first->send("\r");
    ASSERT_TRUE(waitUntil([&] { return window().sessionBadge()->text() == "1"; }));
    EXPECT_EQ(pane->statusText(), "Exited 0");
    EXPECT_EQ(tray.toolTip(), "VELK — 1 session needs you");
    second->send("\r");
    ASSERT_TRUE(waitUntil([&] { return !window().sessionBadge()->isVisible(); }));
    EXPECT_EQ(window().windowTitle(), "VELK");
    EXPECT_EQ(tray.toolTip(), "VELK");
    EXPECT_TRUE(trayPlain());
}

TEST_F(MainWindowTest, recentProjectsShowTheNewestFourAndKeepUnsavedEditsWhenTheUserCancels) {
    EXPECT_TRUE(window().shownRecentFolders().isEmpty());
    const QList<QLabel*> labels = window().findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
        return label->text() == "Your projects will appear here.";
    }));

    QStringList opened;
    for (int i = 0; i < 6; ++i) {
        opened.prepend(makeFolder(QStringLiteral("p%1").arg(i)));
        fixture.workspace.project.setFolder(opened.front());
        if (i == 2) {
            EXPECT_EQ(window().shownRecentFolders(), opened);
        }
    }
    EXPECT_EQ(window().shownRecentFolders(), opened.mid(0, 4));

    // Choosing another asks about unsaved edits first; Cancel keeps the project and the edits.
    fixture.workspace.project.setEditorText("unsaved work");
    fixture.dialogs.answerAlert("Cancel");
    for (QToolButton* button : window().findChildren<QToolButton*>()) {
        if (button->toolTip() == opened[1]) {
            button->click();
        }
    }
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
    EXPECT_EQ(fixture.workspace.project.folder(), opened[0]);
    EXPECT_EQ(fixture.workspace.project.editorText(), "unsaved work");
}

TEST_F(MainWindowTest, noticesFloatAboveThePageAsPlainTextAndFadeWhenCleared) {
    fixture.workspace.notices.setDurationMs(100);
    window();
    fixture.workspace.notices.notify("Workspace refreshed.");
    EXPECT_TRUE(window().notice()->isVisible());
    EXPECT_TRUE(waitUntil([this] { return !window().notice()->isVisible(); }, 3s));
    // A notice quoting a file name shows it as written, never as markup.
    fixture.workspace.notices.notify("Saved <img src=x>.py");
    EXPECT_EQ(window().notice()->textFormat(), Qt::PlainText);
    EXPECT_EQ(window().notice()->text(), "Saved <img src=x>.py");
}

TEST_F(MainWindowTest, windowCaptureWritesThePageAsPngAndReportsWriteFailures) {
    window();
    processEventsFor(50ms);
    const QString path = folder.filePath("Workspace.png");
    const Result<void> captured = captureWindow(&window(), path);
    EXPECT_TRUE(captured) << captured.error().message.toStdString();
    EXPECT_EQ(QImage(path).size(), window().centralWidget()->size() * window().devicePixelRatio());
    const Result<void> failed = captureWindow(&window(), folder.filePath("missing/x.png"));
    ASSERT_FALSE(failed);
    EXPECT_FALSE(failed.error().message.isEmpty());
}

// Every dialog opened over the window (a confirmation, the folder chooser, the save dialog)
// takes its style: each of its texts must read against the background it is drawn on
// (WCAG 4.5:1), measured from the pixels, in every theme preset.
TEST_F(MainWindowTest, dialogTextsStandOutFromTheirBackgroundInEveryPreset) {
    QtDialogs dialogs;
    dialogs.setParentWindow(&window());
    // Measures the texts of the dialog now open, then closes it.
    const auto measure = [](const std::string& dialogName) {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr) << dialogName;
        processEventsFor(50ms);
        const QImage image = dialog->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int measured = 0;
        for (QWidget* widget : dialog->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<QLabel*>(widget);
            const auto* button = qobject_cast<QAbstractButton*>(widget);
            const auto* header = qobject_cast<QHeaderView*>(widget);
            const QString text =
                label    ? label->text()
                : button ? button->text()
                : header && header->model()
                    ? header->model()->headerData(0, header->orientation()).toString()
                    : QString();
            if (text.isEmpty() || !widget->isVisibleTo(dialog)) {
                continue;
            }
            const QRect area(widget->mapTo(dialog, QPoint(0, 0)) * image.devicePixelRatio(),
                             widget->size() * image.devicePixelRatio());
            EXPECT_GE(textContrast(image, area.intersected(image.rect())), 4.5)
                << dialogName << ": " << text.toStdString();
            ++measured;
        }
        EXPECT_GE(measured, 3) << dialogName;
        qobject_cast<QDialog*>(dialog)->reject();
    };
    for (const ThemePreset& theme : ThemePreset::all()) {
        SCOPED_TRACE(theme.id.toStdString());
        fixture.theme.apply(theme);
        QTimer::singleShot(0, [&] { measure("confirmation"); });
        dialogs.alert({"Apply the selected changes?",
                       "Three files change in the project. A backup is kept first.",
                       {"Apply", "Cancel"},
                       Dialogs::Style::Warning});
        QTimer::singleShot(0, [&] { measure("folder chooser"); });
        (void)dialogs.open({"Choose a project folder", folder.path(), false, true, {}});
        QTimer::singleShot(0, [&] { measure("save dialog"); });
        (void)dialogs.save({folder.path(), "VELK-Preview.png"});
    }
}

// Thousands of files to apply, or restored after a crash, scroll inside the confirmation:
// the whole text is there, and the box with its buttons fits on the screen.
TEST_F(MainWindowTest, aLongAlertScrollsInsideABoxThatFitsOnTheScreen) {
    QtDialogs dialogs;
    dialogs.setParentWindow(&window());
    QStringList lines;
    for (int i = 0; i < 3000; ++i) {
        lines.append(QStringLiteral("Changed: data/f%1.txt").arg(i));
    }
    const QString text = "Project: /home/ana/shop\n\n" + lines.join('\n') +
                         "\n\nOriginal files are backed up inside this run.";
    bool looked = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            return;
        }
        processEventsFor(50ms);
        looked = true;
        EXPECT_LE(box->frameGeometry().height(), box->screen()->availableGeometry().height());
        const QLabel* label = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), text);
        for (QAbstractButton* button : box->buttons()) {
            EXPECT_TRUE(button->isVisible());
            EXPECT_TRUE(box->rect().contains(QRect(button->mapTo(box, QPoint()), button->size())))
                << button->text().toStdString();
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == "Cancel") {
                button->click();
            }
        }
    });
    EXPECT_EQ(dialogs.alert({"Apply 3000 reviewed files?", text, {"Apply changes", "Cancel"}}), 1);
    EXPECT_TRUE(looked);
}

// The files of an apply, however many, scroll in a list of their own: the texts and buttons
// stay as given and on the screen, the list holds every file without a widget for each, and
// Escape answers Cancel.
TEST_F(MainWindowTest, anAlertWithThousandsOfDetailsListsThemAllInABoxThatFitsOnTheScreen) {
    QtDialogs dialogs;
    dialogs.setParentWindow(&window());
    QStringList files;
    for (int i = 0; i < 5000; ++i) {
        files.append(QStringLiteral("Changed: data/f%1.txt").arg(i));
    }
    const Dialogs::Alert alert{"Apply 5,000 reviewed files?",
                               "Project: /home/ana/shop\n\n5,000 changed.",
                               {"Apply changes", "Cancel"},
                               Dialogs::Style::Warning,
                               files};
    const auto answer = [&](const std::function<void(QWidget*)>& act) {
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            act(box);
        });
        return dialogs.alert(alert);
    };
    EXPECT_EQ(answer([](QWidget* box) {
                  processEventsFor(50ms);
                  EXPECT_LE(box->frameGeometry().height(),
                            box->screen()->availableGeometry().height());
                  QStringList texts;
                  for (const QLabel* label : box->findChildren<QLabel*>()) {
                      texts.append(label->text());
                  }
                  EXPECT_TRUE(texts.contains("Apply 5,000 reviewed files?"));
                  EXPECT_TRUE(texts.contains("Project: /home/ana/shop\n\n5,000 changed."));
                  const auto* list = box->findChild<QAbstractItemView*>();
                  ASSERT_NE(list, nullptr);
                  EXPECT_EQ(list->model()->rowCount(), 5000);
                  EXPECT_EQ(list->model()->index(4999, 0).data(), "Changed: data/f4999.txt");
                  EXPECT_LT(box->findChildren<QWidget*>().size(), 100);
                  QAbstractButton* apply = nullptr;
                  for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
                      EXPECT_TRUE(
                          box->rect().contains(QRect(button->mapTo(box, QPoint()), button->size())))
                          << button->text().toStdString();
                      apply = button->text() == "Apply changes" ? button : apply;
                  }
                  ASSERT_NE(apply, nullptr);
                  apply->click();
              }),
              0);
    EXPECT_EQ(answer([](QWidget* box) {
                  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                  QApplication::sendEvent(box, &escape);
              }),
              1);
}

TEST_F(MainWindowTest, quitAsksAboutUnsavedEditsThenRunningSessionsAndCancelKeepsThemRunning) {
    EXPECT_TRUE(
        confirmQuit(fixture.workspace.project, fixture.workspace.sessions, fixture.dialogs, true));
    EXPECT_TRUE(
        confirmQuit(fixture.workspace.project, fixture.workspace.sessions, fixture.dialogs, false));
    EXPECT_TRUE(fixture.dialogs.alerts().empty()) << "nothing to ask about";

    const SessionPointer session = startSession();
    ASSERT_TRUE(waitUntil([&] { return session->running(); }, 5s));
    fixture.dialogs.answerAlert("Cancel");
    EXPECT_FALSE(
        confirmQuit(fixture.workspace.project, fixture.workspace.sessions, fixture.dialogs, false));
    ASSERT_EQ(fixture.dialogs.alerts().size(), 1u);
    EXPECT_EQ(fixture.dialogs.alerts()[0].message, "Quit and stop running sessions?");
    EXPECT_EQ(fixture.dialogs.alerts()[0].buttons, (QStringList{"Quit & stop", "Cancel"}));

    // Kept edits cancel the quit before the sessions are asked about.
    fixture.workspace.project.setEditorText("draft");
    fixture.dialogs.answerAlert("Cancel");
    EXPECT_FALSE(
        confirmQuit(fixture.workspace.project, fixture.workspace.sessions, fixture.dialogs, false));
    ASSERT_EQ(fixture.dialogs.alerts().size(), 2u);
    EXPECT_EQ(fixture.dialogs.alerts()[1].message, "Save your changes?");
    processEventsFor(100ms);
    EXPECT_TRUE(session->running());

    fixture.dialogs.answerAlert("Discard");
    fixture.dialogs.answerAlert("Quit & stop");
    EXPECT_TRUE(
        confirmQuit(fixture.workspace.project, fixture.workspace.sessions, fixture.dialogs, false));
    EXPECT_EQ(fixture.dialogs.alerts().size(), 4u);
    EXPECT_TRUE(waitUntil([&] { return !session->running(); }, 5s));
}

}  // namespace

TEST(CaretBlinkTimeout, caretsStopBlinkingAfterASpellWithoutInputAndTheNextKeyBringsTheBlinkBack) {
    QStyleHints* hints = QGuiApplication::styleHints();
    hints->setCursorFlashTime(1000);
    {
        CaretBlinkTimeout timeout(20);
        QLineEdit field;
        ASSERT_TRUE(waitUntil([&] { return timeout.stopped(); }));
        EXPECT_EQ(hints->cursorFlashTime(), 0);

        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(&field, &key);
        EXPECT_FALSE(timeout.stopped());
        EXPECT_EQ(hints->cursorFlashTime(), 1000);
        ASSERT_TRUE(waitUntil([&] { return timeout.stopped(); }));
    }
    EXPECT_EQ(hints->cursorFlashTime(), 1000);  // given back when it goes
}
