// The track table's model: its columns, each with an identifier (the contract
// with the cell logic, which picks each cell's text by it) and a header title.
// Titles are set translated by the window build and rewritten by the
// translation pass through setHeaderData.
//
// Seam: the rows (the visible list, browser.filtered) and their cells — titles
// with covers and favourite marks, artists, albums, formats, quality labels
// and lengths — come with the track table work; until then the table has no
// rows.
//
// Main thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace ql {

class TrackTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TrackTableModel(QObject* parent = nullptr);

    // Appends a column; returns its index.
    int addColumn(const QString& identifier, const QString& title);
    QString identifier(int column) const;
    // The column of an identifier, -1 when none.
    int columnOf(const QString& identifier) const;

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
};

} // namespace ql
