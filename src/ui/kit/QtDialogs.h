#pragma once

#include "core/services/Dialogs.h"

class QWidget;

// Dialogs shown with QMessageBox (a lighter dialog of its own for alerts with a list of
// details) and QFileDialog, parented to the main window when set.
class QtDialogs : public Dialogs {
public:
    void setParentWindow(QWidget* window) { m_parent = window; }

    int alert(const Alert& alert) override;
    std::optional<QString> open(const OpenPanel& panel) override;
    std::optional<QString> save(const SavePanel& panel) override;

private:
    QWidget* m_parent = nullptr;
};
