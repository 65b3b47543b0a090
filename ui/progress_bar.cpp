#include "progress_bar.h"

#include <QStyleOptionProgressBar>
#include <QStylePainter>

#include <algorithm>
#include <cmath>

namespace velmora::ui {

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(tr("Progress"));
}

void ProgressBar::SetMax(float max) {
    m_max = max;
    Show();
}

void ProgressBar::SetValue(float value) {
    m_value = value;
    Show();
}

QSize ProgressBar::sizeHint() const { return {233, 25}; }

void ProgressBar::Show() {
    double fraction = m_max > 0.0f ? static_cast<double>(m_value) / m_max : 0.0;
    if (!std::isfinite(fraction)) {
        fraction = 0.0;
    }
    const int step = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kSteps);
    if (step == m_step) {
        return;
    }
    m_step = step;
    if (!isVisible()) {
        return;
    }
    if (!m_sinceRepaint.isValid() || m_sinceRepaint.elapsed() >= 50) {
        repaint();
        m_sinceRepaint.restart();
    } else {
        update(); // drawn when the event loop next runs, at the latest
    }
}

void ProgressBar::paintEvent(QPaintEvent*) {
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.minimum = 0;
    option.maximum = kSteps;
    option.progress = m_step;
    option.textVisible = false;
    option.state |= QStyle::State_Horizontal;
    QStylePainter painter(this);
    painter.drawControl(QStyle::CE_ProgressBar, option);
}

} // namespace velmora::ui
