// Converts one file in the Qt window, as typing both paths and clicking Convert does, and
// prints how long the click took in seconds; for bench/compare.sh to hold the window's
// cost against velmora-convert's. Runs without a display (Qt's offscreen platform).
//   velmora-window-convert IN OUT

#include "main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: velmora-window-convert IN OUT\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    velmora::ui::MainWindow window;
    window.show();
    window.findChild<QLineEdit*>("FileIn")->setText(QFile::decodeName(argv[1]));
    window.findChild<QLineEdit*>("FileOut")->setText(QFile::decodeName(argv[2]));
    QElapsedTimer clicked;
    clicked.start();
    window.findChild<QPushButton*>("Command1")->click();
    const double seconds = static_cast<double>(clicked.nsecsElapsed()) / 1e9;
    if (window.findChild<QLabel*>("Label3")->text() !=
        QLatin1String("File Successfully Processed")) {
        std::fputs("velmora-window-convert: the window did not convert the file\n", stderr);
        return 1;
    }
    std::printf("%.6f\n", seconds);
    return 0;
}
