// Guards against: a folder pop-up that cuts the chosen folder's name, or grows past its width.
// The launched window's pop-up after the chosen folder changes, in both
// languages: the face must draw the chosen item whole while it fits in 220
// points, and end a longer one in "…" within 220. What the face draws is
// read back from the window: the face painted with two text colours, the
// pixels that differ are the text's ink.
#include "app/App.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestHome.h"

#include <QComboBox>
#include <QPainter>
#include <QStyleOptionComboBox>

using namespace ql;

namespace {

// The catalog: `first` tracks in "/m/Album A", then one in the other folder.
struct Case {
    const char* name;
    const char* lang;
    QString other; // the second folder's name
    int chosen;    // 0 all folders, 1 "Album A", 2 the other folder
    QString face;  // what the chosen item reads
    bool whole;
};
const QString kLong = "The Complete Recordings of the Orchestra, Remastered Edition";
// clang-format off
const std::vector<Case> kCases = {
    {"All folders (5 tracks) in English", "en", "Zed", 0, "All folders (5 tracks)", true},
    {"모든 폴더 (5곡) in Korean", "ko", "Zed", 0, "모든 폴더 (5곡)", true},
    {"Album A (3곡) in Korean", "ko", "Zed", 1, "Album A (3곡)", true},
    {"Album A (3 tracks) in English", "en", "Zed", 1, "Album A (3 tracks)", true},
    {"a short folder after a long list of names", "ko", kLong, 1, "Album A (3곡)", true},
    {"a folder name past 220 points ends in …", "ko", kLong, 2, kLong + " (2곡)", false},
};
// clang-format on

std::vector<Track> catalog(const QString& other) {
    std::vector<Track> rows;
    for (qint64 id = 1; id <= 5; ++id)
        rows.push_back(Track{id,
                             QString("/m/%1/%2.flac").arg(id <= 3 ? "Album A" : other).arg(id),
                             "t",
                             "a",
                             "b",
                             100,
                             {}});
    return rows;
}

// The first and last columns left of `end` that hold ink when `paint` draws
// text in red and in blue.
std::pair<int, int> inkColumns(QSize size, int end,
                               const std::function<void(QPainter&, QColor)>& paint) {
    QImage shots[2];
    const QColor colours[2] = {Qt::red, Qt::blue};
    for (int i = 0; i < 2; ++i) {
        shots[i] = QImage(size, QImage::Format_ARGB32_Premultiplied);
        shots[i].fill(Qt::black);
        QPainter p(&shots[i]);
        paint(p, colours[i]);
    }
    int first = -1, last = -1;
    for (int x = 0; x < end; ++x)
        for (int y = 0; y < size.height(); ++y)
            if (shots[0].pixel(x, y) != shots[1].pixel(x, y)) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

// How wide the ink of `text` is, drawn on its own in `font`.
int inkWidth(const QString& text, const QFont& font) {
    const QFontMetrics fm(font);
    const auto [first, last] =
        inkColumns({fm.horizontalAdvance(text) + 40, fm.height() + 4},
                   fm.horizontalAdvance(text) + 40, [&](QPainter& p, QColor c) {
                       p.setFont(font);
                       p.setPen(c);
                       p.drawText(QPoint(20, fm.ascent() + 2), text);
                   });
    return last - first + 1;
}

} // namespace

class FolderPickerTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }
    void cleanup() { L10n::setLanguage("en"); }

    void facesTheChosenFolder_data() { test::addRows(kCases); }
    void facesTheChosenFolder() {
        const Case& c = test::currentCase(kCases);
        test::LaunchedApp l(c.lang, [&](App& a) { a.library.rows = catalog(c.other); });
        App& app = *l;
        app.rebuildFolders();
        QComboBox* picker = app.folderPicker;
        picker->setCurrentIndex(c.chosen);
        app.folderChanged();
        QCOMPARE(picker->currentText(), c.face);
        // The tool row lays the pop-up out again at its new size.
        QTRY_VERIFY(!picker->testAttribute(Qt::WA_PendingResizeEvent));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QVERIFY(picker->isVisible());
        QVERIFY(picker->width() <= 220);

        QStyleOptionComboBox opt;
        opt.initFrom(picker);
        opt.frame = picker->hasFrame();
        const QRect field = picker->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                            QStyle::SC_ComboBoxEditField, picker);
        // The arrow is drawn in the text colour too: only the columns left of
        // it are read.
        const QRect arrow = picker->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                            QStyle::SC_ComboBoxArrow, picker);
        const auto [first, last] =
            inkColumns(picker->size(), arrow.left(), [&](QPainter& p, QColor colour) {
                QPalette palette = picker->palette();
                for (QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText})
                    palette.setColor(role, colour);
                picker->setPalette(palette);
                picker->render(&p);
            });
        QVERIFY2(first >= field.left() && last <= field.right(),
                 qPrintable(QString("ink %1…%2, field %3…%4")
                                .arg(first)
                                .arg(last)
                                .arg(field.left())
                                .arg(field.right())));
        const QFontMetrics fm(picker->font());
        const QString drawn =
            c.whole ? c.face : fm.elidedText(c.face, Qt::ElideRight, field.width() - 2);
        if (!c.whole) {
            QCOMPARE(picker->width(), 220);
            QVERIFY(drawn.endsWith(QChar(0x2026)) && drawn.size() > 4);
        }
        // The face's ink spans the whole text (or its elided form), no less.
        QVERIFY(std::abs((last - first + 1) - inkWidth(drawn, picker->font())) <= 1);
    }
};

QL_TEST_MAIN(FolderPickerTest)
#include "FolderPickerTest.moc"
