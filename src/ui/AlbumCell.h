// One tile as the grid shows it: what App configures for a tile of
// browser.albums when the tile first comes into view after a reload (texts,
// cover, badge), painted by AlbumCellDelegate.
//
// `representedKey` ties the cell to the tile it was configured for: a cover
// that arrives later lands only while the cell still shows that key.
#pragma once

#include <QImage>
#include <QMetaType>
#include <QString>

namespace ql {

struct AlbumCell {
    QString representedKey; // the AlbumItem key shown
    QString t1;             // first line: the title
    QString t2;             // second line: the subtitle
    QImage cover;           // null: the square stays empty
    bool badge = false;     // the "HD" badge on the cover
};

} // namespace ql

Q_DECLARE_METATYPE(ql::AlbumCell)
