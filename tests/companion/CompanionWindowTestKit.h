#pragma once

#include "FakeSpeechServices.h"
#include "core/companion/CompanionModel.h"
#include "support/TestSupport.h"
#include "ui/UiFixture.h"
#include "ui/companion/CompanionController.h"

#include <QAction>
#include <QMenu>

#include <memory>

// The menu's entry of that text, or null.
inline QAction* menuAction(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

// A companion model with scripted speech, a workspace, and (once made) a controller over a
// described screen layout: a 1920 × 1080 primary screen at Qt (1440, 200) with a 30-point
// top panel, and a 1440 × 900 screen at Qt (0, 0) on its left.
struct CompanionWindowKit {
    CompanionWindowKit() {
        auto speechServices = std::make_unique<FakeSpeechServices>();
        speech = speechServices.get();
        model = std::make_unique<CompanionModel>(false, ui.preferences, ui.dialogs,
                                                 std::move(speechServices));
        layout.primaryGeometry = QRect(1440, 200, 1920, 1080);
        const DesktopSpace space(layout.primaryGeometry);
        layout.screens = {
            {space.toDesktop(QRectF(1440, 200, 1920, 1080)),
             space.toDesktop(QRectF(1440, 230, 1920, 1050))},
            {space.toDesktop(QRectF(0, 0, 1440, 900)), space.toDesktop(QRectF(0, 0, 1440, 900))},
        };
        layout.mainIndex = 0;
    }

    CompanionController& makeController() {
        CompanionController::Actions actions;
        actions.showMain = [this] { ++mainShown; };
        actions.quit = [] {};
        controller = std::make_unique<CompanionController>(
            *model,
            CompanionController::Models{ui.workspace.launcher, ui.workspace.sessions,
                                        ui.workspace.history, ui.workspace.notices, ui.navigator},
            ui.theme, ui.preferences, std::move(actions), [this] { return layout; });
        return *controller;
    }

    bool startListening() { return speech->startListening(*model); }

    UiFixture ui;
    FakeSpeechServices* speech = nullptr;
    std::unique_ptr<CompanionModel> model;
    ScreenLayout layout;
    std::unique_ptr<CompanionController> controller;
    int mainShown = 0;
};
