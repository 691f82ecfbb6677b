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

// No rows until the cell logic lands (see the header).
int TrackTableModel::rowCount(const QModelIndex&) const {
    return 0;
}

int TrackTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant TrackTableModel::data(const QModelIndex&, int) const {
    return {};
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
