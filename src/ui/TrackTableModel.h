// The track table's model: one row per track of the visible list, and the
// columns, each with an identifier (the contract with the cell texts, which
// are chosen by it) and a header title. Titles are set translated by the
// window build and rewritten by the translation pass through setHeaderData.
//
// The model keeps no copy of the tracks: it reads the owner's vector (the
// browser's visible list) and asks the owner for each cell's text and the
// title cell's thumbnail at every paint, so a label or cover that arrives
// later shows as soon as its cell is repainted. The owner calls reload() after
// every change of the vector (a reset) and cellChanged() when one cell's
// content changed (a late quality label or cover).
//
// Roles: DisplayRole the cell text; ToolTipRole the track's full path, in
// every column; DecorationRole (title column only) the thumbnail as a QImage.
//
// Main thread only.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"

#include <QAbstractTableModel>
#include <QImage>
#include <QString>

#include <functional>
#include <vector>

namespace ql {

class TrackTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // What the cells show, looked up by the owner.
    struct Cells {
        const TrackList* rows = nullptr; // null: no rows
        std::function<QString(const Track&, const QString& identifier)> text;
        std::function<QImage(const Track&)> thumbnail;
    };

    explicit TrackTableModel(QObject* parent = nullptr);

    // Appends a column; returns its index.
    int addColumn(const QString& identifier, const QString& title);
    QString identifier(int column) const;
    // The column of an identifier, -1 when none.
    int columnOf(const QString& identifier) const;

    // Takes the source of the rows and cells, and resets.
    void setCells(Cells cells);
    // The rows' vector changed: a reset.
    void reload();
    // One cell's content changed; rows or columns out of range are ignored.
    void cellChanged(int row, int column);
    // The track of a row, null out of range.
    const Track* trackAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role) override;

private:
    struct Column {
        QString identifier;
        QString title;
    };
    std::vector<Column> m_columns;
    Cells m_cells;
};

} // namespace ql
