#include "ui/workspace/WorkspacePage.h"

#include "core/appearance/Theme.h"
#include "core/assistants/AssistantTraits.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/ProjectModel.h"
#include "core/workspace/ProviderRegistry.h"
#include "core/workspace/SessionManager.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"
#include "ui/workspace/Composer.h"
#include "ui/workspace/SessionDeck.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

struct QuickTask {
    const char* icon;
    const char* title;
    const char* prompt;
};

const QuickTask kQuickTasks[] = {
    {"hammer", "Build something",
     "Help me build a new feature in this project. Start by inspecting the folder and "
     "proposing a plan."},
    {"checkmark.shield", "Review my code",
     "Review this project for bugs and opportunities to improve it. Explain your findings "
     "before making changes."},
    {"magnifyingglass", "Explore a project",
     "Explore this project and explain its architecture, how to run it, and where to start. "
     "Do not modify files."},
};

}  // namespace

WorkspacePage::WorkspacePage(SessionManager& sessions, ProjectModel& project,
                             const ProviderRegistry& providers, Launcher& launcher,
                             TeamRunController& teamRuns, Navigator& navigator,
                             PasteSafety& pasteSafety, Theme& theme, DesktopServices* desktop,
                             const AttentionBoard* attention, QWidget* parent)
    : QWidget(parent),
      m_sessions(sessions),
      m_project(project),
      m_providers(providers),
      m_launcher(launcher),
      m_navigator(navigator),
      m_theme(theme) {
    auto* layout = Widgets::box<QHBoxLayout>(this, {22, 18, 22, 18}, 18);

    auto* main = new QVBoxLayout;
    main->setSpacing(14);
    // Parts are made inside their final parents (see buildWelcome()).
    m_content = new QStackedWidget(this);
    m_welcome = buildWelcome();
    m_content->addWidget(m_welcome);
    // A start without sessions shows the welcome panel; the deck waits for the first session.
    m_makeDeck = [=, this, &sessions, &project, &providers, &launcher, &navigator, &pasteSafety,
                  &theme] {
        return new SessionDeck(sessions, project, providers, launcher, navigator, pasteSafety,
                               theme, desktop, attention, m_content);
    };
    main->addWidget(m_content, 1);
    m_composer = new Composer(launcher, project, providers, teamRuns, this);
    main->addWidget(m_composer);
    layout->addLayout(main, 1);
    layout->addWidget(buildInspector());

    connect(&sessions, &SessionManager::sessionsChanged, this, &WorkspacePage::syncContent);
    for (auto signal : {&ProviderRegistry::providersChanged, &ProviderRegistry::availableChanged,
                        &ProviderRegistry::connectionStatusChanged}) {
        connect(&providers, signal, this, &WorkspacePage::rebuildConnectedTools);
        connect(&providers, signal, this, &WorkspacePage::rebuildAssistants);
    }
    connect(&launcher, &Launcher::selectedProvidersChanged, this,
            &WorkspacePage::rebuildConnectedTools);
    connect(&launcher, &Launcher::selectedProvidersChanged, this,
            &WorkspacePage::rebuildAssistants);
    connect(&project, &ProjectModel::folderChanged, this, &WorkspacePage::updateProjectCard);
    connect(&theme, &Theme::changed, this, &WorkspacePage::applyTheme);
    connect(&launcher, &Launcher::separateCopiesChanged, this, &WorkspacePage::updateModeCard);
    syncContent();
    rebuildConnectedTools();
    updateProjectCard();
    updateModeCard();
    applyTheme();  // also builds the assistant rows
}

void WorkspacePage::applyTheme() {
    for (QLabel* icon : std::as_const(m_themedIcons)) {
        icon->setPixmap(Icons::pixmap(icon->property("symbol").toString(), m_theme.accent(), 20));
    }
    m_terminalButton->setIcon(Icons::icon(QStringLiteral("terminal"), m_theme.text()));
    rebuildAssistants();
}

bool WorkspacePage::showsWelcome() const {
    return m_content->currentWidget() == m_welcome;
}

void WorkspacePage::syncContent() {
    if (m_sessions.sessions().isEmpty()) {
        m_content->setCurrentWidget(m_welcome);
        return;
    }
    if (!m_deck) {
        // Made while the first session is announced: the deck shows it, and is listening
        // by the time the session starts.
        m_deck = m_makeDeck();
        m_content->addWidget(m_deck);
    }
    m_content->setCurrentWidget(m_deck);
}

QWidget* WorkspacePage::buildWelcome() {
    // Made in place and polished before the scroll area first measures it: a panel polished
    // outside the window is polished again when it joins, and its text measured in the
    // fonts of both.
    auto* scroll = new QScrollArea(m_content);
    scroll->setWidgetResizable(true);
    auto* panel = new QWidget(scroll->viewport());
    auto* layout = Widgets::box<QVBoxLayout>(panel, {8, 12, 8, 12}, 10);

    layout->addWidget(Widgets::label(QStringLiteral("A new orbit\nfor your ideas."), "headline"));
    layout->addWidget(Widgets::label(
        QStringLiteral(
            "Think it. Build it. Make it real.\nYour tools and your companion, together."),
        "muted"));
    layout->addSpacing(16);

    layout->addWidget(Widgets::label(QStringLiteral("Start with an idea"), "title"));
    auto* cards = new QHBoxLayout;
    cards->setSpacing(12);
    for (const QuickTask& task : kQuickTasks) {
        auto* card = Widgets::button(QString(), "quick");
        card->setMinimumHeight(92);
        auto* cardLayout = new QVBoxLayout(card);
        cardLayout->setContentsMargins(14, 12, 14, 12);
        auto* icon = new QLabel;
        icon->setProperty("symbol", QString::fromLatin1(task.icon));
        m_themedIcons.append(icon);
        icon->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* title = Widgets::label(QString::fromUtf8(task.title), "title");
        title->setAttribute(Qt::WA_TransparentForMouseEvents);
        cardLayout->addWidget(icon);
        cardLayout->addWidget(title);
        cardLayout->addStretch(1);
        const QString prompt = QString::fromUtf8(task.prompt);
        card->setToolTip(prompt);
        connect(card, &QPushButton::clicked, this,
                [this, prompt] { m_launcher.setPrompt(prompt); });
        cards->addWidget(card, 1);
    }
    layout->addLayout(cards);
    layout->addWidget(Widgets::label(QStringLiteral("Or write your own below"), "muted"));
    layout->addSpacing(16);

    auto* toolsHeader = new QHBoxLayout;
    toolsHeader->addWidget(Widgets::label(QStringLiteral("Connected tools"), "title"));
    toolsHeader->addStretch(1);
    auto* viewAll = Widgets::button(QStringLiteral("View all  ↗"), "link");
    connect(viewAll, &QPushButton::clicked, this,
            [this] { m_navigator.setDestination(Destination::Assistants); });
    toolsHeader->addWidget(viewAll);
    layout->addLayout(toolsHeader);
    m_connectedTools = new QVBoxLayout;
    m_connectedTools->setSpacing(6);
    layout->addLayout(m_connectedTools);
    layout->addStretch(1);
    panel->ensurePolished();
    scroll->setWidget(panel);
    return scroll;
}

void WorkspacePage::rebuildConnectedTools() {
    QStringList shown;
    for (const Provider& provider : m_providers.providers()) {
        shown << provider.name << m_providers.connectionLabel(provider)
              << QString::number(m_providers.isReady(provider));
    }
    if (shown == m_shownTools) {
        return;
    }
    m_shownTools = shown;
    Widgets::clearLayout(m_connectedTools);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    int index = 0;
    for (const Provider& provider : m_providers.providers()) {
        auto* chip = Widgets::card();
        // Name above status: side by side, a long status ("Installed · login unchecked")
        // would make three chips wider than the page.
        auto* chipLayout = Widgets::box<QVBoxLayout>(chip, {12, 8, 12, 8}, 2);
        chipLayout->addWidget(Widgets::label(provider.name));
        chipLayout->addWidget(Widgets::label(m_providers.connectionLabel(provider),
                                             m_providers.isReady(provider) ? "accent" : "muted"));
        grid->addWidget(chip, index / 3, index % 3);
        ++index;
    }
    m_connectedTools->addLayout(grid);
}

QWidget* WorkspacePage::buildInspector() {
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFixedWidth(310);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QWidget(scroll->viewport());
    column->setFixedWidth(300);
    auto* layout = Widgets::box<QVBoxLayout>(column, {0, 0, 0, 0}, 12);

    auto* project = Widgets::card();
    auto* projectLayout = new QVBoxLayout(project);
    projectLayout->setContentsMargins(14, 12, 14, 12);
    projectLayout->addWidget(Widgets::label(QStringLiteral("Project"), "muted"));
    m_projectName = Widgets::label(QString(), "title");
    m_projectHint = Widgets::wrappingLabel(
        QStringLiteral("Open a folder to give your assistants a place to work."), "muted");
    m_projectButton = Widgets::button(QString(), "link");
    m_projectButton->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(m_projectButton, &QPushButton::clicked, this, [this] { m_project.chooseFolder(); });
    projectLayout->addWidget(m_projectName);
    projectLayout->addWidget(m_projectHint);
    projectLayout->addWidget(m_projectButton);
    layout->addWidget(project);

    auto* assistants = Widgets::card();
    auto* assistantsLayout = new QVBoxLayout(assistants);
    assistantsLayout->setContentsMargins(14, 12, 14, 12);
    auto* assistantsHeader = new QHBoxLayout;
    assistantsHeader->addWidget(Widgets::label(QStringLiteral("Assistants"), "title"));
    assistantsHeader->addStretch(1);
    auto* terminal = new QToolButton;
    m_terminalButton = terminal;
    terminal->setToolTip(QStringLiteral("New terminal"));
    connect(terminal, &QToolButton::clicked, this, [this] { m_launcher.openTerminal(); });
    assistantsHeader->addWidget(terminal);
    assistantsLayout->addLayout(assistantsHeader);
    m_assistants = new QVBoxLayout;
    m_assistants->setSpacing(2);
    assistantsLayout->addLayout(m_assistants);
    assistantsLayout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Each selected assistant starts its own session. CLI installed means the "
                       "program was found; login and model access are managed by that provider."),
        "muted"));
    layout->addWidget(assistants);

    auto* mode = Widgets::card();
    auto* modeLayout = new QVBoxLayout(mode);
    modeLayout->setContentsMargins(14, 12, 14, 12);
    modeLayout->addWidget(Widgets::label(QStringLiteral("Work together, clearly"), "title"));
    m_modeText = Widgets::wrappingLabel(QString(), "muted");
    modeLayout->addWidget(m_modeText);
    layout->addWidget(mode);

    layout->addWidget(
        Widgets::label(QStringLiteral("VELK history stays on this computer"), "muted"));
    layout->addStretch(1);
    column->ensurePolished();
    scroll->setWidget(column);
    return scroll;
}

void WorkspacePage::rebuildAssistants() {
    QStringList shown{m_theme.accent().name(), m_theme.text().name()};
    for (const Provider& provider : m_providers.providers()) {
        shown << provider.id << provider.name << m_providers.connectionLabel(provider)
              << QString::number(m_providers.isReady(provider))
              << QString::number(m_launcher.selectedProviders().contains(provider.id));
    }
    if (shown == m_shownAssistants) {
        return;
    }
    m_shownAssistants = shown;
    Widgets::clearLayout(m_assistants);
    for (const Provider& provider : m_providers.providers()) {
        if (provider.id == kShellID) {
            continue;
        }
        const bool selected = m_launcher.selectedProviders().contains(provider.id);
        const bool ready = m_providers.isReady(provider);
        // A flat button holding a tick box, the name and the readiness below it.
        auto* row = new QPushButton;
        row->setProperty("bare", true);
        row->setCursor(Qt::PointingHandCursor);
        row->setMinimumHeight(40);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(2, 3, 2, 3);
        auto* tick = new QLabel;
        tick->setPixmap(Icons::pixmap(
            selected ? QStringLiteral("checkmark.square.fill") : QStringLiteral("square"),
            selected ? m_theme.accent() : m_theme.text()));
        auto* text = new QVBoxLayout;
        text->setSpacing(0);
        text->addWidget(Widgets::label(provider.name));
        text->addWidget(
            Widgets::label(m_providers.connectionLabel(provider), ready ? "accent" : "muted"));
        rowLayout->addWidget(tick);
        rowLayout->addLayout(text, 1);
        for (QLabel* label : row->findChildren<QLabel*>()) {
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
        }
        row->setToolTip(ready ? QString() : QStringLiteral("Not installed: set up its connector"));
        const QString id = provider.id;
        connect(row, &QPushButton::clicked, this, [this, id] {
            const Provider chosen = m_providers.provider(id);
            if (!m_providers.isReady(chosen)) {
                m_navigator.showConnector(chosen);
                return;
            }
            QSet<QString> ids = m_launcher.selectedProviders();
            if (ids.contains(id)) {
                ids.remove(id);
            } else {
                ids.insert(id);
            }
            m_launcher.setSelectedProviders(ids);
        });
        m_assistants->addWidget(row);
    }
}

void WorkspacePage::updateProjectCard() {
    const bool open = m_project.hasFolder();
    // Long folder names are shortened in the middle to fit the card.
    const QString name = open ? QFileInfo(m_project.folder()).fileName() : QString();
    m_projectName->setText(m_projectName->fontMetrics().elidedText(name, Qt::ElideMiddle, 250));
    m_projectName->setToolTip(m_project.folder());
    m_projectName->setVisible(open);
    m_projectHint->setVisible(!open);
    m_projectButton->setText(open ? QStringLiteral("Change folder  ↗")
                                  : QStringLiteral("Choose folder  ↗"));
}

void WorkspacePage::updateModeCard() {
    m_modeText->setText(
        m_launcher.separateCopies()
            ? QStringLiteral("Each assistant gets its own project copy. Compare results in Team "
                             "runs and apply the files you choose. Dependencies, secrets in .env "
                             "files and symbolic links are skipped.")
            : QStringLiteral("Assistants edit this same folder. Give them different tasks to "
                             "avoid overlapping edits."));
}
