// The quality-analysis window: the spectrum of one track, seven result rows
// and the coloured verdict.
//
// show() resets the window for a track at once and runs the analysis on the
// file's reader (platform/UserFiles.h; a file refused as slow shows as
// unread); the answer comes back to the main thread and is shown only if
// no later show() has replaced it (a request number). A superseded analysis
// is dropped (the controller stops its readers: App::showAudioScan). A floating tool window that
// stays on top, hidden (never deleted) when closed, shown without taking the focus, and centred
// only when it was not on screen. Main thread only.
//
// Way in: App::showAudioScan() (analysis/AppAudioScan.cpp), which both the
// transport bar's analysis button and the tools panel's "🔬 음질 분석" button
// (listening/AppToolsPanel.cpp) call.
#pragma once

#include "analysis/ScanVerdict.h"
#include "app/Records.h"

#include <QPalette>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QWidget;

namespace ql {

class BandPlot;

class AudioScanPanel final {
public:
    AudioScanPanel();
    ~AudioScanPanel();
    AudioScanPanel(const AudioScanPanel&) = delete;
    AudioScanPanel& operator=(const AudioScanPanel&) = delete;

    // The analysis of a file, run on its reader thread; the controller sets it.
    std::function<std::optional<ScanResult>(const QString& path)> analyze;

    void show(const Track& track);

    QWidget* window() const { return m_window.get(); }
    BandPlot* spectrum() const { return m_spectrum; }
    QLabel* title() const { return m_title; }
    const std::vector<QLabel*>& values() const { return m_values; }
    QLabel* verdict() const { return m_verdict; }
    quint64 generation() const { return m_generation; }

private:
    // The analysis of the newest show(), on the main thread.
    void apply(const std::optional<ScanResult>& result);

    std::unique_ptr<QWidget> m_window;
    BandPlot* m_spectrum = nullptr;
    QLabel* m_title = nullptr;
    std::vector<QLabel*> m_values;
    QLabel* m_verdict = nullptr;
    QPalette m_verdictPalette; // the label's own, restored by each show()
    quint64 m_generation = 0;
};

} // namespace ql
