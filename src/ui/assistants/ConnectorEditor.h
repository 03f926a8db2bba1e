#pragma once

#include "core/assistants/Provider.h"

#include <QDialog>

#include <optional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class DesktopServices;
class ProviderRegistry;
class Theme;

// The sheet that adds a connector or configures an existing provider: four fields, the live
// template check with its warning, and "Save connector", which hands the built provider to
// the workspace.
class ConnectorEditor : public QDialog {
    Q_OBJECT
public:
    // `editing` is the provider being configured; nothing adds a new connector.
    ConnectorEditor(ProviderRegistry& providers, DesktopServices* desktop, Theme& theme,
                    std::optional<Provider> editing, QWidget* parent = nullptr);

    // The provider "Save connector" would store now.
    Provider builtProvider() const;
    // Stores the built provider and closes the sheet; does nothing while saving is disabled.
    void save();

    QLabel* heading() const { return m_heading; }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* executableField() const { return m_executable; }
    QLineEdit* templateField() const { return m_template; }
    QLineEdit* documentationField() const { return m_documentation; }
    QLabel* templateErrorLabel() const { return m_error; }
    // A caution that leaves saving enabled, e.g. when an interpreter receives the task.
    QLabel* templateWarningLabel() const { return m_warning; }
    QFrame* profileBox() const { return m_profileBox; }
    QPushButton* documentationLink() const { return m_documentationLink; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* cancelButton() const { return m_cancel; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void syncState();
    void fitWrappedTexts();

    ProviderRegistry& m_providers;
    DesktopServices* m_desktop;
    Theme& m_theme;
    const std::optional<Provider> m_editing;
    QLabel* m_heading = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_executable = nullptr;
    QLineEdit* m_template = nullptr;
    QLineEdit* m_documentation = nullptr;
    QLabel* m_error = nullptr;
    QLabel* m_warning = nullptr;
    QFrame* m_profileBox = nullptr;
    QPushButton* m_documentationLink = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_cancel = nullptr;
};
