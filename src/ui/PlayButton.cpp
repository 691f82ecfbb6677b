#include "ui/PlayButton.h"

#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

namespace ql {

PlayButton::PlayButton(QWidget* parent) : SymbolButton(parent) {
    setFixedSize(44, 44);
    setCornerRadius(22);
    setBackground(Theme::grey(0.14));
    setContentTint(Qt::white);
    refreshIcon();
}

void PlayButton::setTitle(const QString& title) {
    SymbolButton::setTitle(title);
    refreshIcon();
}

bool PlayButton::showsPause(const QString& title) {
    static const QString kPause = QStringLiteral("⏸ 일시정지");
    return title.contains(QStringLiteral("일시정지")) || title == L10n::tr(kPause);
}

void PlayButton::refreshIcon() {
    setImagePosition(ImagePosition::ImageOnly);
    setImage(sym(showsPause(title()) ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"),
                 17, SymbolWeight::Bold));
}

} // namespace ql
