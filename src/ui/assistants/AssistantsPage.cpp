#include "ui/assistants/AssistantsPage.h"

#include "core/appearance/Theme.h"
#include "core/assistants/AssistantTraits.h"
#include "core/assistants/Provider.h"
#include "core/services/DesktopServices.h"
#include "core/workspace/Launcher.h"
#include "core/workspace/ProviderRegistry.h"
#include "ui/assistants/ConnectorEditor.h"
#include "ui/kit/AppStyle.h"
#include "ui/kit/Icons.h"
#include "ui/kit/Widgets.h"
#include "ui/navigation/Navigator.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr int kCardColumns = 2;

QFrame* infoCard(QLayout* content) {
    QFrame* card = Widgets::card();
    card->setLayout(content);
    content->setContentsMargins(20, 18, 20, 18);
    return card;
}

}  // namespace

AssistantsPage::AssistantsPage(ProviderRegistry& providers, Launcher& launcher,
                               Navigator& navigator, DesktopServices* desktop, Theme& theme,
                               QWidget* parent)
    : QWidget(parent),
      m_providers(providers),
      m_launcher(launcher),
      m_navigator(navigator),
      m_desktop(desktop),
      m_theme(theme) {
    QVBoxLayout* layout = Widgets::scrollingPage(this);

    auto* intro = new QHBoxLayout;
    intro->setSpacing(16);
    auto* connected = new QVBoxLayout;
    connected->setSpacing(8);
    auto* pill = Widgets::label(QStringLiteral("Connected intelligence"), "pill");
    auto* pillRow = new QHBoxLayout;
    pillRow->addWidget(pill);
    pillRow->addStretch(1);
    connected->addLayout(pillRow);
    connected->addWidget(Widgets::label(QStringLiteral("Your best minds, together."), "headline"));
    connected->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Run the original tools in VELK. Each provider keeps its own login, model "
                       "settings, and approvals."),
        "muted"));
    intro->addWidget(infoCard(connected), 3);
    auto* tools = new QVBoxLayout;
    tools->setSpacing(8);
    tools->addWidget(Widgets::label(QStringLiteral("A place for your tools"), "title"));
    tools->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Add any installed command-line assistant as a connector. Configure MCP "
                       "servers, skills, and plugins through the provider’s original terminal "
                       "commands. VELK keeps each provider’s configuration in its own hands."),
        "muted"));
    tools->addStretch(1);
    intro->addWidget(infoCard(tools), 2);
    layout->addLayout(intro);

    auto* actions = new QHBoxLayout;
    m_addConnector = Widgets::button(QStringLiteral("Add connector"), "primary");
    m_checkConnections = Widgets::button(QStringLiteral("Check connections"));
    m_checkConnections->setToolTip(
        QStringLiteral("Checks sign-in status without sending AI requests."));
    actions->addWidget(m_addConnector);
    actions->addWidget(m_checkConnections);
    actions->addStretch(1);
    layout->addLayout(actions);
    connect(m_addConnector, &QPushButton::clicked, this, [this] {
        m_navigator.setEditingProvider(std::nullopt);
        m_navigator.setPresentConnector(true);
    });
    connect(m_checkConnections, &QPushButton::clicked, this,
            [this] { m_providers.checkConnections(); });

    m_cardArea = new QWidget;
    m_cards = new QGridLayout(m_cardArea);
    m_cards->setContentsMargins(0, 0, 0, 0);
    m_cards->setSpacing(16);
    layout->addWidget(m_cardArea);
    layout->addStretch(1);

    connect(&m_providers, &ProviderRegistry::providersChanged, this, &AssistantsPage::rebuildCards);
    connect(&m_providers, &ProviderRegistry::availableChanged, this, &AssistantsPage::rebuildCards);
    connect(&m_providers, &ProviderRegistry::connectionStatusChanged, this,
            &AssistantsPage::rebuildCards);
    connect(&m_providers, &ProviderRegistry::checkingConnectionsChanged, this,
            &AssistantsPage::syncCheckButton);
    connect(&m_navigator, &Navigator::presentConnectorChanged, this,
            &AssistantsPage::syncConnector);
    connect(&m_theme, &Theme::changed, this, &AssistantsPage::applyTheme);
    applyTheme();
    syncCheckButton();
    syncConnector();
}

QWidget* AssistantsPage::card(const QString& providerID) const {
    return m_cardArea->findChild<QWidget*>(QStringLiteral("provider:") + providerID);
}

QWidget* AssistantsPage::buildCard(const Provider& provider) {
    QFrame* card = Widgets::card();
    card->setObjectName(QStringLiteral("provider:") + provider.id);
    auto* layout = Widgets::box<QVBoxLayout>(card, {18, 16, 18, 14}, 8);

    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    auto* icon = new QLabel;
    icon->setFixedSize(40, 40);
    icon->setAlignment(Qt::AlignCenter);
    QColor tile = provider.color();
    tile.setAlphaF(0.18);
    icon->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 10px;").arg(AppStyle::css(tile)));
    const QPixmap symbol = Icons::filePath(provider.icon).isEmpty()
                               ? QPixmap()
                               : Icons::pixmap(provider.icon, provider.color(), 22);
    if (symbol.isNull()) {
        // A symbol the icon set lacks: the name's first letter in the provider's colour.
        icon->setText(provider.name.left(1).toUpper());
        icon->setStyleSheet(icon->styleSheet() +
                            QStringLiteral(" color: %1; font-size: 18px; font-weight: 700;")
                                .arg(AppStyle::css(provider.color())));
    } else {
        icon->setPixmap(symbol);
    }
    top->addWidget(icon);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(Widgets::label(provider.name, "title"));
    names->addWidget(Widgets::label(provider.subtitle, "muted"));
    top->addLayout(names, 1);
    auto* status = Widgets::label(m_providers.connectionLabel(provider), "pill");
    status->setObjectName(QStringLiteral("status"));
    top->addWidget(status, 0, Qt::AlignTop);
    layout->addLayout(top);

    const auto path = m_providers.available().constFind(provider.id);
    auto* location = Widgets::label(path != m_providers.available().cend()
                                        ? *path
                                        : QStringLiteral("Install this tool to connect it"),
                                    "muted");
    location->setObjectName(QStringLiteral("location"));
    location->setStyleSheet(QStringLiteral("font-family: monospace; font-size: 12px;"));
    location->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(location);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    const QColor iconColor = m_theme.text();
    const auto addAction = [&](const QString& text, const QString& symbolName,
                               const QString& name) {
        QPushButton* button = Widgets::button(text);
        button->setObjectName(name);
        button->setIcon(Icons::icon(symbolName, iconColor));
        actions->addWidget(button);
        return button;
    };
    const AssistantTraits& traits = AssistantTraits::of(provider.id);
    if (!traits.commands.signIn.isEmpty()) {
        connect(addAction(QStringLiteral("Sign in"), QStringLiteral("person.crop.circle"),
                          QStringLiteral("signIn")),
                &QPushButton::clicked, this, [this, provider] { m_launcher.signIn(provider); });
    }
    if (!traits.commands.resume.isEmpty()) {
        connect(addAction(QStringLiteral("Resume"), QStringLiteral("clock.arrow.circlepath"),
                          QStringLiteral("resume")),
                &QPushButton::clicked, this, [this, provider] { m_launcher.resume(provider); });
    }
    QPushButton* terminal =
        addAction(QString(), QStringLiteral("terminal"), QStringLiteral("launch"));
    terminal->setToolTip(QStringLiteral("Open ") + provider.name +
                         QStringLiteral(" in a terminal"));
    terminal->setAccessibleName(terminal->toolTip());
    connect(terminal, &QPushButton::clicked, this,
            [this, provider] { m_launcher.launch(QString(), provider); });
    connect(addAction(QStringLiteral("Configure"), QStringLiteral("slider.horizontal.3"),
                      QStringLiteral("configure")),
            &QPushButton::clicked, this, [this, provider] { m_navigator.showConnector(provider); });
    actions->addStretch(1);
    if (const auto url = provider.documentationURL()) {
        QPushButton* docs = Widgets::button(QStringLiteral("Documentation"), "link");
        docs->setObjectName(QStringLiteral("documentation"));
        docs->setIcon(Icons::icon(QStringLiteral("book"), m_theme.accent()));
        docs->setToolTip(url->toString());
        connect(docs, &QPushButton::clicked, this, [this, link = url->toString()] {
            if (DesktopServices* desktop = m_desktop) {
                desktop->openUrl(link);
            }
        });
        actions->addWidget(docs);
    }
    layout->addLayout(actions);
    return card;
}

void AssistantsPage::rebuildCards() {
    Widgets::clearLayout(m_cards);
    const QList<Provider>& providers = m_providers.providers();
    for (int index = 0; index < providers.size(); ++index) {
        m_cards->addWidget(buildCard(providers.at(index)), index / kCardColumns,
                           index % kCardColumns);
    }
}

void AssistantsPage::syncCheckButton() {
    const bool checking = m_providers.checkingConnections();
    m_checkConnections->setEnabled(!checking);
    m_checkConnections->setText(checking ? QStringLiteral("Checking accounts…")
                                         : QStringLiteral("Check connections"));
}

void AssistantsPage::syncConnector() {
    if (!m_navigator.presentConnector()) {
        if (ConnectorEditor* editor = m_editor) {
            m_editor = nullptr;
            editor->close();  // deletes itself on close
        }
        return;
    }
    if (m_editor) {
        return;
    }
    m_editor = new ConnectorEditor(m_providers, m_desktop, m_theme, m_navigator.editingProvider(),
                                   window());
    m_editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_editor, &QDialog::finished, this, [this] {
        // The closing sheet is deleted later; a new request gets a new sheet.
        m_editor = nullptr;
        m_navigator.setPresentConnector(false);
    });
    m_editor->open();
}

void AssistantsPage::applyTheme() {
    m_addConnector->setIcon(Icons::icon(QStringLiteral("plus"), m_theme.bg()));
    m_checkConnections->setIcon(Icons::icon(QStringLiteral("arrow.clockwise"), m_theme.text()));
    rebuildCards();
}
