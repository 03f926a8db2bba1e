#include "ui/runs/ReviewFileModel.h"

#include <QPoint>

void ReviewFileModel::setChanges(std::vector<FileChange> changes) {
    beginResetModel();
    m_changes = std::move(changes);
    m_marks.assign(m_changes.size(), {});
    m_counts.assign(m_changes.size(), std::nullopt);
    m_rows.clear();
    m_rows.reserve(qsizetype(m_changes.size()));
    for (std::size_t row = 0; row < m_changes.size(); ++row) {
        m_rows.insert(m_changes[row].path, int(row));
    }
    m_ticked.clear();
    endResetModel();
    Q_EMIT tickedChanged();
}

void ReviewFileModel::setMarks(std::vector<QStringList> marks) {
    marks.resize(m_changes.size());
    if (marks == m_marks) {
        return;
    }
    m_marks = std::move(marks);
    allChanged({Qt::DisplayRole, Qt::ToolTipRole});
}

void ReviewFileModel::setCounts(const std::map<QString, LineDiff::LineCounts>& counts) {
    std::vector<std::optional<QPoint>> rows(m_changes.size());
    for (std::size_t row = 0; row < m_changes.size(); ++row) {
        const auto found = counts.find(m_changes[row].path);
        if (found != counts.end() && found->second.text) {
            rows[row] = QPoint(found->second.added, found->second.removed);
        }
    }
    if (rows == m_counts) {
        return;
    }
    m_counts = std::move(rows);
    allChanged({kCountsRole});
}

void ReviewFileModel::setTicked(const QString& path, bool ticked) {
    const int row = rowOf(path);
    if (row < 0 || m_ticked.contains(path) == ticked) {
        return;
    }
    if (ticked) {
        m_ticked.insert(path);
    } else {
        m_ticked.remove(path);
    }
    Q_EMIT dataChanged(index(row), index(row), {Qt::CheckStateRole});
    Q_EMIT tickedChanged();
}

void ReviewFileModel::tickAll() {
    // What the setup made (installed files, generated ones) is ticked only one by one.
    bool added = false;
    m_ticked.reserve(qsizetype(m_changes.size()));
    for (const FileChange& change : m_changes) {
        if (!change.madeBySetup && !m_ticked.contains(change.path)) {
            m_ticked.insert(change.path);
            added = true;
        }
    }
    if (!added) {
        return;
    }
    allChanged({Qt::CheckStateRole});
    Q_EMIT tickedChanged();
}

void ReviewFileModel::clearTicks() {
    if (m_ticked.isEmpty()) {
        return;
    }
    m_ticked.clear();
    allChanged({Qt::CheckStateRole});
    Q_EMIT tickedChanged();
}

// One signal for every row: the view repaints the rows in sight, whatever the list's length.
void ReviewFileModel::allChanged(const QList<int>& roles) {
    if (!m_changes.empty()) {
        Q_EMIT dataChanged(index(0), index(int(m_changes.size()) - 1), roles);
    }
}

int ReviewFileModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_changes.size());
}

QVariant ReviewFileModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_changes.size())) {
        return {};
    }
    const std::size_t row = std::size_t(index.row());
    const FileChange& change = m_changes[row];
    switch (role) {
        case Qt::DisplayRole: {
            QString text = change.kind() + QStringLiteral("   ") + change.path;
            for (const QString& mark : m_marks[row]) {
                text += QStringLiteral(" · ") + mark;
            }
            return text;
        }
        case Qt::CheckStateRole:
            return m_ticked.contains(change.path) ? Qt::Checked : Qt::Unchecked;
        case kPathRole:
            return change.path;
        case kCountsRole:
            return m_counts[row] ? QVariant(*m_counts[row]) : QVariant();
        default:
            return {};
    }
}

bool ReviewFileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.row() >= int(m_changes.size())) {
        return false;
    }
    setTicked(m_changes[std::size_t(index.row())].path, value.toInt() == int(Qt::Checked));
    return true;
}

Qt::ItemFlags ReviewFileModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}
