#include "progress_bar.h"

#include "ui/core/progress_fill.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QStyleOptionProgressBar>
#include <QStylePainter>

namespace velmora::ui {

namespace {

// What assistive technology learns of the bar: a progress bar, and how far it has got
// in percent.
class AccessibleProgressBar final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleProgressBar(ProgressBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return QStringLiteral("%1%").arg(Percent());
        }
        return QAccessibleWidget::text(kind);
    }
    QVariant currentValue() const override { return Percent(); }
    void setCurrentValue(const QVariant&) override {} // shown, never set by the user
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    int Percent() const {
        return ProgressBar::Percent(static_cast<ProgressBar*>(widget())->Filled());
    }
};

QAccessibleInterface* AccessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String(ProgressBar::staticMetaObject.className())) {
        return new AccessibleProgressBar(static_cast<ProgressBar*>(object));
    }
    return nullptr;
}

} // namespace

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent) {
    static const bool accessible = (QAccessible::installFactory(AccessibleFor), true);
    Q_UNUSED(accessible);
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

QSize ProgressBar::sizeHint() const {
    return {233, 25};
}

void ProgressBar::Show() {
    const int step = FilledSteps(m_max, m_value, kSteps);
    if (step == m_step) {
        return;
    }
    const int percent = Percent(Filled());
    m_step = step;
    if (Percent(Filled()) != percent) {
        QAccessibleValueChangeEvent changed(this, Percent(Filled()));
        QAccessible::updateAccessibility(&changed);
    }
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
