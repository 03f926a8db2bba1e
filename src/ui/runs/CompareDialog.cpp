#include "ui/runs/CompareDialog.h"

#include "core/runs/FileDiff.h"
#include "ui/kit/Widgets.h"
#include "ui/runs/DiffView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CompareDialog::CompareDialog(const QString& title, const QString& path, const QString& baseline,
                             std::vector<Version> versions, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    resize(1200, 720);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Widgets::wrappingLabel(title + QStringLiteral(" · ") + path, "title"));
    layout->addWidget(Widgets::wrappingLabel(
        QStringLiteral("Each version is compared with the file as it was when the run began."),
        "muted"));
    auto* columns = new QHBoxLayout;
    for (const Version& version : versions) {
        auto* column = new QVBoxLayout;
        column->addWidget(Widgets::wrappingLabel(version.first, "caption"));
        auto* view = new DiffView;
        column->addWidget(view, 1);
        columns->addLayout(column, 1);
        m_views.push_back(view);
    }
    layout->addLayout(columns, 1);
    Widgets::addDoneButton(this, layout);

    m_job = runInBackground(
        this,
        [path, baseline, versions](const BackgroundJob& job) {
            std::vector<FileDiff> diffs;
            const FileVersion before = RunFiles::readVersion(baseline, path);
            for (const Version& version : versions) {
                if (job.cancelled()) {
                    break;
                }
                diffs.push_back(
                    LineDiff::compute(path, before, RunFiles::readVersion(version.second, path)));
            }
            return diffs;
        },
        [this](const std::vector<FileDiff>& diffs) {
            m_job.reset();
            for (std::size_t index = 0; index < diffs.size() && index < m_views.size(); ++index) {
                m_views[index]->setDiff(diffs[index]);
            }
            m_ready = true;
            Q_EMIT diffsReady();
        });
}

CompareDialog::~CompareDialog() {
    if (m_job) {
        m_job->cancel();
    }
}
