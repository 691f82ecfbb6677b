// Cost of translation: the once-a-second pass over a window of 500 widgets, and
// L10n::tr of a 100-character text the memo has not seen.
//
// Peers in the same run: a plain walk over the same widgets that only reads
// their texts, and a remembered L10n::tr of the same text. Goals: a pass over
// already remembered texts within 1 ms; an unremembered text within 0.2 ms.
#include "ui/l10n/L10n.h"
#include "ui/l10n/Localizer.h"
#include "ui/l10n/PairTable.h"
#include "ui/l10n/Translator.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>

using namespace ql;

namespace {

// 500 widgets with Korean texts from the phrase table: 250 labels, 125 buttons,
// 75 check boxes with tool tips and 50 three-item combo boxes.
class Window {
public:
    Window() {
        const QList<Pair>& rows = PairTable::builtIn().rows;
        qsizetype next = 0;
        const auto korean = [&] { return rows[(next++ * 7) % rows.size()].korean; };
        for (int i = 0; i < 250; ++i)
            m_texts.push_back({new QLabel(korean(), &m_root), "text", {}});
        for (int i = 0; i < 125; ++i)
            m_texts.push_back({new QPushButton(korean(), &m_root), "text", {}});
        for (int i = 0; i < 75; ++i) {
            auto* box = new QCheckBox(korean(), &m_root);
            box->setToolTip(korean());
            m_texts.push_back({box, "text", {}});
            m_texts.push_back({box, "toolTip", {}});
        }
        for (int i = 0; i < 50; ++i) {
            auto* combo = new QComboBox(&m_root);
            combo->addItems({korean(), korean(), korean()});
            m_combos.push_back(
                {combo, {combo->itemText(0), combo->itemText(1), combo->itemText(2)}});
        }
        for (Text& t : m_texts)
            t.korean = t.object->property(t.name).toString();
    }

    // Puts every Korean text back, as actions would.
    void reset() {
        for (const Text& t : m_texts)
            t.object->setProperty(t.name, t.korean);
        for (const Combo& c : m_combos)
            for (int i = 0; i < 3; ++i)
                c.combo->setItemText(i, c.items[i]);
    }

    // The peer: visits the same widgets and reads their texts, nothing more.
    qsizetype walk() const {
        qsizetype chars = 0;
        for (QObject* child : m_root.children()) {
            auto* w = static_cast<QWidget*>(child);
            chars += w->toolTip().size();
            if (auto* label = qobject_cast<QLabel*>(w))
                chars += label->text().size();
            else if (auto* button = qobject_cast<QAbstractButton*>(w))
                chars += button->text().size();
            else if (auto* combo = qobject_cast<QComboBox*>(w))
                for (int i = 0; i < combo->count(); ++i)
                    chars += combo->itemText(i).size();
        }
        return chars;
    }

private:
    struct Text {
        QObject* object;
        const char* name;
        QString korean;
    };
    struct Combo {
        QComboBox* combo;
        QStringList items;
    };
    QWidget m_root;
    std::vector<Text> m_texts;
    std::vector<Combo> m_combos;
};

Window& window() {
    static Window w;
    return w;
}

void passOverRememberedKorean(benchmark::State& state) {
    Window& w = window();
    w.reset();
    Translator::translateAll(); // fills the memo
    for (auto _ : state) {
        state.PauseTiming();
        w.reset();
        state.ResumeTiming();
        benchmark::DoNotOptimize(Translator::translateAll());
    }
}

void passOverEnglish(benchmark::State& state) {
    Window& w = window();
    w.reset();
    Translator::translateAll();
    for (auto _ : state)
        benchmark::DoNotOptimize(Translator::translateAll());
}

void walkPeer(benchmark::State& state) {
    Window& w = window();
    for (auto _ : state)
        benchmark::DoNotOptimize(w.walk());
}

// About 100 characters: fragments, a count and words no key covers.
QString hundredChars(int n) {
    return QStringLiteral("🎛 분석된 곡이 아직 적습니다 (%1곡). 분석이 진행되는 동안 "
                          "잠시 "
                          "후 "
                          "다시 눌러 주세요. 음원 불러오는 중… 새로 받은 음원 폴더의 목록을 "
                          "정리하는 중입니다 (잠시만 기다려 주세요)")
        .arg(n);
}

void trUnremembered(benchmark::State& state) {
    Localizer l(QStringLiteral("en"), PairTable::builtIn());
    int n = 0;
    for (auto _ : state) {
        // Every text is new; every 4001st empties the memo, as in use.
        benchmark::DoNotOptimize(l.tr(hundredChars(n++)));
    }
    state.counters["chars"] = double(hundredChars(0).size());
}

void trRemembered(benchmark::State& state) {
    Localizer l(QStringLiteral("en"), PairTable::builtIn());
    const QString text = hundredChars(7);
    l.tr(text);
    for (auto _ : state)
        benchmark::DoNotOptimize(l.tr(text));
}

// Building each new argument is part of trUnremembered's loop; this peer
// measures it alone, to subtract.
void buildTextPeer(benchmark::State& state) {
    int n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(hundredChars(n++));
}

class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            micros[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    std::map<std::string, double> micros;
};

} // namespace

BENCHMARK(passOverRememberedKorean)->Unit(benchmark::kMicrosecond);
BENCHMARK(passOverEnglish)->Unit(benchmark::kMicrosecond);
BENCHMARK(walkPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK(trUnremembered)->Unit(benchmark::kMicrosecond);
BENCHMARK(trRemembered)->Unit(benchmark::kMicrosecond);
BENCHMARK(buildTextPeer)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    L10n::setLanguage(QStringLiteral("en"));
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    auto& m = collector.micros;
    const auto has = [&m](const char* a, const char* b) { return m.count(a) && m.count(b); };
    if (has("passOverRememberedKorean", "walkPeer")) {
        const double pass = m["passOverRememberedKorean"];
        std::printf("pass over 500 widgets, memo warm: %.1f us = %.1f x the plain walk; "
                    "%.2f of the 1 ms goal\n",
                    pass, pass / m["walkPeer"], pass / 1000.0);
    }
    if (has("passOverEnglish", "walkPeer"))
        std::printf("steady pass (all English): %.1f us = %.1f x the plain walk\n",
                    m["passOverEnglish"], m["passOverEnglish"] / m["walkPeer"]);
    if (has("trUnremembered", "trRemembered") && m.count("buildTextPeer")) {
        const double tr = m["trUnremembered"] - m["buildTextPeer"];
        std::printf("tr of a new 100-char text: %.1f us = %.0f x a remembered one; "
                    "%.2f of the 0.2 ms goal\n",
                    tr, tr / m["trRemembered"], tr / 200.0);
    }
    return 0;
}
