#pragma once

#include "core/base/Background.h"

#include <QDialog>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

class DiffView;

// One file of a team run in several versions, each shown as its line diff against the run's
// baseline, side by side: the copies of several assistants that changed the same file, or
// the project as it is now next to a copy (a three-way view: baseline, project, copy).
class CompareDialog : public QDialog {
    Q_OBJECT

public:
    // A version: its title ("Codex", "Your project now") and the folder holding it.
    using Version = std::pair<QString, QString>;

    CompareDialog(const QString& title, const QString& path, const QString& baseline,
                  std::vector<Version> versions, QWidget* parent = nullptr);
    ~CompareDialog() override;

    const std::vector<DiffView*>& views() const { return m_views; }
    // Whether every version's diff has arrived.
    bool ready() const { return m_ready; }

Q_SIGNALS:
    void diffsReady();

private:
    std::vector<DiffView*> m_views;
    std::optional<BackgroundJob> m_job;
    bool m_ready = false;
};
