#include "progress_bar.h"

#include <QTest>

#include <limits>

namespace velmora::ui {

class TestProgressBar : public QObject {
    Q_OBJECT

private slots:
    // The engine may send a maximum of 0, values past the maximum (the text grows as
    // it is rewritten) and, in principle, anything a float holds.
    void drawsOddValuesClamped_data() {
        QTest::addColumn<float>("max");
        QTest::addColumn<float>("value");
        QTest::addColumn<double>("filled");
        QTest::newRow("half") << 28.0f << 14.0f << 0.5;
        QTest::newRow("past the maximum") << 22.0f << 27.0f << 1.0;
        QTest::newRow("maximum of zero") << 0.0f << 5.0f << 0.0;
        QTest::newRow("negative") << 10.0f << -3.0f << 0.0;
        QTest::newRow("not a number") << 10.0f << std::numeric_limits<float>::quiet_NaN() << 0.0;
        QTest::newRow("infinite") << 10.0f << std::numeric_limits<float>::infinity() << 0.0;
    }

    void drawsOddValuesClamped() {
        QFETCH(float, max);
        QFETCH(float, value);
        QFETCH(double, filled);
        ProgressBar bar;
        bar.SetMax(max);
        bar.SetValue(value);
        QCOMPARE(bar.Filled(), filled);
        QCOMPARE(bar.Max(), max);
    }

    // While a conversion holds the thread the bar paints itself, but not more than
    // about every 50 ms however fast the values come.
    void repaintsItselfAtMostEvery50Milliseconds() {
        ProgressBar bar;
        bar.resize(233, 25);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        PaintCounter counter;
        bar.installEventFilter(&counter);
        bar.SetMax(100000.0f);
        for (int value = 1; value <= 100000; ++value) {
            bar.SetValue(static_cast<float>(value));
        }
        QVERIFY2(counter.paints <= 2, qPrintable(QString::number(counter.paints)));
        QTest::qSleep(60); // sleeps without running the event loop, as a conversion does
        const int before = counter.paints;
        bar.SetValue(1.0f);
        QCOMPARE(counter.paints, before + 1);
    }

private:
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    };
};

} // namespace velmora::ui

QTEST_MAIN(velmora::ui::TestProgressBar)
#include "progress_bar_test.moc"
