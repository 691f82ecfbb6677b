// The round play/pause button of the transport bar. Its title is never drawn:
// it carries the playback state, and the icon follows it. Playback writes
// "⏸ 일시정지" when music starts or resumes and "▶ 재생" when it pauses or
// stops; in English mode the translation pass rewrites those titles to their
// English text through the title setter.
//
// The pause icon shows while the title contains "일시정지" or equals the
// interface-language text of "⏸ 일시정지" (so the English "⏸ Pause" the pass
// writes keeps the pause icon while music plays); any other title shows play.
//
// 44 x 44, a circle of grey 0.14, the icon white at 17 pt bold.
// Main thread only.
#pragma once

#include "ui/SymbolButton.h"

namespace ql {

class PlayButton final : public SymbolButton {
    Q_OBJECT
public:
    explicit PlayButton(QWidget* parent = nullptr);

    void setTitle(const QString& title) override;
    // Image only, and the icon for the current title.
    void refreshIcon();
    // Whether the title asks for the pause icon.
    static bool showsPause(const QString& title);

    QSize sizeHint() const override { return {44, 44}; }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

} // namespace ql
