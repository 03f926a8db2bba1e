#pragma once

#include <QList>
#include <QString>

// The pages of the main window, in sidebar order.
enum class Destination {
    Workspace,
    TeamRuns,
    Assistants,
    FilesAndRunner,
    History,
    DesktopActions,
    Companion,
    Appearance,
    Settings,
};

// Display name, also the page's stored raw value: "Workspace", "Team runs", …
QString displayName(Destination destination);
// Symbol name of the page's icon.
QString iconName(Destination destination);
const QList<Destination>& allDestinations();
