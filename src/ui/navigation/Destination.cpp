#include "ui/navigation/Destination.h"

QString displayName(Destination destination) {
    switch (destination) {
        case Destination::Workspace:
            return QStringLiteral("Workspace");
        case Destination::TeamRuns:
            return QStringLiteral("Team runs");
        case Destination::Assistants:
            return QStringLiteral("Assistants");
        case Destination::FilesAndRunner:
            return QStringLiteral("Files & runner");
        case Destination::History:
            return QStringLiteral("History");
        case Destination::DesktopActions:
            return QStringLiteral("Desktop actions");
        case Destination::Companion:
            return QStringLiteral("Companion");
        case Destination::Appearance:
            return QStringLiteral("Appearance");
        case Destination::Settings:
            return QStringLiteral("Settings");
    }
    return {};
}

QString iconName(Destination destination) {
    switch (destination) {
        case Destination::Workspace:
            return QStringLiteral("square.grid.2x2");
        case Destination::TeamRuns:
            return QStringLiteral("square.stack.3d.up");
        case Destination::Assistants:
            return QStringLiteral("sparkles");
        case Destination::FilesAndRunner:
            return QStringLiteral("curlybraces");
        case Destination::History:
            return QStringLiteral("clock.arrow.circlepath");
        case Destination::DesktopActions:
            return QStringLiteral("desktopcomputer");
        case Destination::Companion:
            return QStringLiteral("pawprint");
        case Destination::Appearance:
            return QStringLiteral("paintpalette");
        case Destination::Settings:
            return QStringLiteral("slider.horizontal.3");
    }
    return {};
}

const QList<Destination>& allDestinations() {
    static const QList<Destination> all = {
        Destination::Workspace,      Destination::TeamRuns,   Destination::Assistants,
        Destination::FilesAndRunner, Destination::History,    Destination::DesktopActions,
        Destination::Companion,      Destination::Appearance, Destination::Settings,
    };
    return all;
}
