#pragma once

#include "core/runs/FileChange.h"
#include "core/runs/FileDiff.h"

#include <QAbstractListModel>
#include <QHash>
#include <QPoint>
#include <QSet>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

// The changed files of the copy under review, one checkable row each: "Changed   src/a.txt"
// followed by its marks, its lines added and removed, and whether it is ticked for the apply.
// Ticking a row or all of them touches the ticks only; the texts are made when a row is drawn.
class ReviewFileModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr int kPathRole = Qt::UserRole;
    // A row's lines added and removed as a QPoint(added, removed); unset for non-text files.
    static constexpr int kCountsRole = Qt::UserRole + 1;

    using QAbstractListModel::QAbstractListModel;

    // Another list of changes: the ticks and marks go.
    void setChanges(std::vector<FileChange> changes);
    const std::vector<FileChange>& changes() const { return m_changes; }
    // The marks after each change's path ("Applied", "also changed by …"), in row order.
    void setMarks(std::vector<QStringList> marks);
    void setCounts(const std::map<QString, LineDiff::LineCounts>& counts);

    const QSet<QString>& ticked() const { return m_ticked; }
    void setTicked(const QString& path, bool ticked);
    /// Ticks every file but those the copy's setup made, which are ticked one by one.
    void tickAll();
    void clearTicks();
    // The row of `path`, -1 when it is not in the list.
    int rowOf(const QString& path) const { return m_rows.value(path, -1); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // A tick was set or cleared, by the reader or through the calls above.
    void tickedChanged();

private:
    void allChanged(const QList<int>& roles);

    std::vector<FileChange> m_changes;
    std::vector<QStringList> m_marks;
    std::vector<std::optional<QPoint>> m_counts;
    QHash<QString, int> m_rows;
    QSet<QString> m_ticked;
};
