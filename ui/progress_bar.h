#pragma once

#include <QElapsedTimer>
#include <QWidget>

namespace velmora::ui {

// The window's progress bar. It takes the engine's single-precision maximum and values
// as they come: a maximum of 0, negative values and values past the maximum are drawn
// clamped and never refused, and the last values set can be read back.
//
// A conversion holds the window's thread, so no paint event reaches the bar until it
// ends. The bar therefore repaints itself when what it shows changes, but at most every
// 50 ms: often enough to be seen moving on a long run, seldom enough to cost nothing.
class ProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    void SetMax(float max);
    void SetValue(float value);
    float Max() const { return m_max; }
    float Value() const { return m_value; }
    // The part of the bar drawn filled, from 0 to 1.
    double Filled() const { return static_cast<double>(m_step) / kSteps; }
    // The filled part as assistive technology hears it, from 0 to 100.
    static int Percent(double filled) { return static_cast<int>(filled * 100); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Show();

    static constexpr int kSteps = 10000;
    float m_max = 100.0f;
    float m_value = 0.0f;
    int m_step = 0;
    QElapsedTimer m_sinceRepaint;
};

} // namespace velmora::ui
