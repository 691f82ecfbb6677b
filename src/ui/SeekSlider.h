// The seek bar: a horizontal slider holding a double (seconds of the current
// track once a track plays; 0 … 1 before).
//
// Set from code (setMaximum, setValue) it moves silently; only the user's
// own moves run `action`. The value is kept exactly as set; the slider's
// integer steps (milliseconds of the range) only draw it.
//
// A click on the groove moves straight to the clicked point (and a drag goes
// on from there); with a step value set, a wheel notch or an arrow key moves
// by exactly that step.
#pragma once

#include <QSlider>

#include <functional>

namespace ql {

class SeekSlider final : public QSlider {
public:
    explicit SeekSlider(QWidget* parent = nullptr);

    double minimumValue() const { return m_min; }
    double maximumValue() const { return m_max; }
    double doubleValue() const { return m_value; }

    // A non-finite or negative maximum is ignored; the value is clamped into
    // the new range.
    void setMaximumValue(double max);
    // Clamped to minimum … maximum; a non-finite value is ignored.
    void setDoubleValue(double value);

    // The distance of one wheel notch or arrow key, in the slider's units;
    // 0 (the default) leaves Qt's own small steps.
    void setStepValue(double step);

    // Run after the user moved the slider; doubleValue() is the new position.
    std::function<void()> action;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void syncSteps();

    double m_min = 0;
    double m_max = 1;
    double m_value = 0;
    double m_step = 0;
    double m_wheelNotches = 0; // parts of a notch not yet moved (fine wheels)
    bool m_syncing = false;
};

} // namespace ql
