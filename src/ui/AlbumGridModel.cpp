#include "ui/AlbumGridModel.h"

namespace ql {

AlbumGridModel::AlbumGridModel(QObject* parent) : QAbstractListModel(parent) {}

void AlbumGridModel::setSource(const std::vector<AlbumItem>* tiles, Configure configure) {
    m_tiles = tiles;
    m_configure = std::move(configure);
    reload();
}

void AlbumGridModel::reload() {
    beginResetModel();
    m_cells.assign(m_tiles ? m_tiles->size() : 0, std::nullopt);
    m_holds.assign(m_cells.size(), nullptr);
    endResetModel();
}

const AlbumCell* AlbumGridModel::cell(int row) const {
    if (row < 0 || std::size_t(row) >= m_cells.size() || !m_cells[std::size_t(row)])
        return nullptr;
    return &*m_cells[std::size_t(row)];
}

void AlbumGridModel::setCover(int row, const QString& key, const QImage& image) {
    const AlbumCell* shown = cell(row);
    if (!shown || shown->representedKey != key || image.isNull())
        return;
    m_cells[std::size_t(row)]->cover = image;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {CellRole});
}

void AlbumGridModel::setBadge(int row, bool badge) {
    const AlbumCell* shown = cell(row);
    if (!shown || shown->badge == badge)
        return;
    m_cells[std::size_t(row)]->badge = badge;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {CellRole});
}

void AlbumGridModel::keepRows(int first, int last) {
    for (std::size_t row = 0; row < m_cells.size(); ++row) {
        if (int(row) >= first && int(row) <= last)
            continue;
        m_cells[row].reset();
        m_holds[row].reset();
    }
}

int AlbumGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_cells.size());
}

const AlbumCell* AlbumGridModel::configured(int row) const {
    if (row < 0 || std::size_t(row) >= m_cells.size())
        return nullptr;
    std::optional<AlbumCell>& slot = m_cells[std::size_t(row)];
    // The tile list may have shrunk since the last reload; its rows are
    // gone then, and configuring one would read past the end.
    if (!slot && m_configure && m_tiles && std::size_t(row) < m_tiles->size()) {
        CoverHold& hold = m_holds[std::size_t(row)];
        hold = CoverTicket::hold();
        slot = m_configure(row, CoverTicket(hold));
    }
    return slot ? &*slot : nullptr;
}

QVariant AlbumGridModel::data(const QModelIndex& index, int role) const {
    const AlbumCell* c = index.isValid() ? configured(index.row()) : nullptr;
    if (!c)
        return {};
    if (role == CellRole)
        return QVariant::fromValue(*c);
    if (role == Qt::DisplayRole)
        return c->t1;
    return {};
}

} // namespace ql
