#include "ui/TrackTableModel.h"

namespace ql {

TrackTableModel::TrackTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int TrackTableModel::addColumn(const QString& identifier, const QString& title) {
    const int at = int(m_columns.size());
    beginInsertColumns({}, at, at);
    m_columns.push_back({identifier, title});
    endInsertColumns();
    return at;
}

QString TrackTableModel::identifier(int column) const {
    if (column < 0 || column >= int(m_columns.size()))
        return {};
    return m_columns[size_t(column)].identifier;
}

int TrackTableModel::columnOf(const QString& identifier) const {
    for (size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].identifier == identifier)
            return int(i);
    return -1;
}

void TrackTableModel::setCells(Cells cells) {
    beginResetModel();
    m_cells = std::move(cells);
    endResetModel();
}

void TrackTableModel::reload() {
    beginResetModel();
    endResetModel();
}

void TrackTableModel::cellChanged(int row, int column) {
    if (!trackAt(row) || column < 0 || column >= int(m_columns.size()))
        return;
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at);
}

const Track* TrackTableModel::trackAt(int row) const {
    if (!m_cells.rows || row < 0 || size_t(row) >= m_cells.rows->size())
        return nullptr;
    return &(*m_cells.rows)[size_t(row)];
}

int TrackTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_cells.rows ? 0 : int(m_cells.rows->size());
}

int TrackTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant TrackTableModel::data(const QModelIndex& index, int role) const {
    const Track* track = trackAt(index.row());
    if (!track || index.column() < 0 || index.column() >= int(m_columns.size()))
        return {};
    const QString& id = m_columns[size_t(index.column())].identifier;
    switch (role) {
    case Qt::DisplayRole:
        return m_cells.text ? m_cells.text(*track, id) : QString();
    case Qt::ToolTipRole:
        return track->path;
    case Qt::DecorationRole:
        if (id == QLatin1String("title") && m_cells.thumbnail)
            return m_cells.thumbnail(*track);
        return {};
    default:
        return {};
    }
}

QVariant TrackTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= int(m_columns.size()))
        return {};
    if (role == Qt::DisplayRole)
        return m_columns[size_t(section)].title;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

bool TrackTableModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                    int role) {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= int(m_columns.size()))
        return false;
    m_columns[size_t(section)].title = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

} // namespace ql
