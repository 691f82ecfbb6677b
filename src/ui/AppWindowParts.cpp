// ---- window: building blocks (pills, sidebar entries, headings, menu items) ----
#include "app/App.h"

#include "ui/SidebarButton.h"
#include "ui/Surface.h"
#include "ui/Theme.h"

#include <QBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>

namespace ql {

Surface* App::pill(const QList<QWidget*>& views, double spacing, double height, double pad) {
    auto* surface = new Surface(Theme::pill(), height / 2);
    auto* stack = new QHBoxLayout(surface);
    stack->setSpacing(int(spacing));
    const int inset = int(pad);
    stack->setContentsMargins(inset, 0, inset, 0);
    for (QWidget* v : views)
        stack->addWidget(v, 0, Qt::AlignVCenter);
    surface->setFixedHeight(int(height));
    surface->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return surface;
}

SidebarButton* App::sideButton(const QString& icon, const QString& label, int tag) {
    auto* button = new SidebarButton;
    button->setup(icon, label);
    button->setTag(tag);
    QPointer<App> self(this);
    connect(button, &QAbstractButton::clicked, this, [self, tag] {
        if (self)
            self->sidebarClicked(tag);
    });
    button->setFixedHeight(36);
    views.sidebarButtons.push_back(button);
    return button;
}

QLabel* App::section(const QString& text) {
    auto* label = new QLabel(text);
    label->setFont(Theme::font(11, QFont::DemiBold));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Theme::dim());
    label->setPalette(p);
    return label;
}

void App::addMenuItem(QMenu* menu, const QString& title, std::function<void()> action) {
    if (!menu)
        return;
    QAction* item = menu->addAction(title);
    QObject::connect(item, &QAction::triggered, menu, [action = std::move(action)] { action(); });
}

void App::addSettingsItems(QMenu* menu, bool withFetcher) {
    auto run = [this](void (App::*verb)()) { return weakCall(verb); };
    addMenuItem(menu, QStringLiteral("음원 다시 찾기"), run(&App::scan));
    if (withFetcher) {
        addMenuItem(menu, QStringLiteral("⬇ FLAC 받기"), run(&App::showFetch));
        addMenuItem(menu, QStringLiteral("🎵 멜론 TOP10 받기"), run(&App::runMelon));
    }
    addMenuItem(menu, QStringLiteral("현재 곡 정보·아트 보완"), run(&App::enrich));
}

std::function<void()> App::weakCall(void (App::*action)()) {
    QPointer<App> self(this);
    return [self, action] {
        if (self)
            (self.data()->*action)();
    };
}

QWidget* App::spacer() {
    auto* view = new QWidget;
    view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    view->setMinimumSize(0, 0);
    return view;
}

QPushButton* App::button(const QString& title, std::function<void()> action) {
    auto* b = new QPushButton(title);
    if (action)
        QObject::connect(b, &QPushButton::clicked, b, [action = std::move(action)] { action(); });
    return b;
}

void App::addSubviews(QWidget* container, const QList<QWidget*>& views) {
    for (QWidget* v : views)
        v->setParent(container);
}

void App::addArranged(QBoxLayout* stack, const QList<QWidget*>& views) {
    for (QWidget* v : views)
        stack->addWidget(v);
}

} // namespace ql
