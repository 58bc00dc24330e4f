// The demo's window as a Windows program under wine: built with Qt Test from
// the demo's own sources (zolvo_demo_lib), on the offscreen platform, and run
// by the Linux side (demo_driver.cpp) against the rig's platform server and a
// real broker on 127.0.0.1. Modes:
//   window                  the widget table and the samples (Qt Test's runner;
//                           the exit status is the number of failed checks)
//   requests <url> <dir>    init against <url>, an image made in <dir> and chosen
//                           in the file dialog, then every function of the chooser
//   commands <url>          init against <url>, then the callback object answers
//                           the broker's commands until standard input closes
// What the window showed is printed as "R <label> <hex>" lines (wire_hex.h),
// its texts as UTF-8.
#include <iostream>
#include <string>
#include <thread>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "demo_test_util.h"
#include "mainwindow.h"
#include "wire_hex.h"

using demotest::kChooserItems;
using demotest::kWidgetTable;
using demotest::WidgetRow;

namespace {

const char *const kSampleUrl = "http://127.0.0.1:18080";

void print(const std::string &label, const std::string &bytes) {
    std::cout << "R " << label << ' ' << wirehex::encode(bytes) << std::endl;
}

std::string utf8(const QString &text) { return text.toStdString(); }

QPlainTextEdit *editor(QWidget &window, const char *name) {
    return window.findChild<QPlainTextEdit *>(QString::fromLatin1(name));
}

void choose(QWidget &window, int index) {
    emit window.findChild<QComboBox *>(QStringLiteral("typeComboBox"))->activated(index);
}

void submit(QWidget &window) {
    window.findChild<QPushButton *>(QStringLiteral("submitButton"))->click();
}

std::string response(QWidget &window) {
    return utf8(editor(window, "responsePlainTextEdit")->toPlainText());
}

// The init sample pointed at `url`, submitted; prints what the window shows.
void init(QWidget &window, const QString &url) {
    choose(window, 0);
    QPlainTextEdit *request = editor(window, "requestPlainTextEdit");
    QString text = request->toPlainText();
    text.replace(QString::fromLatin1(kSampleUrl), url);
    request->setPlainText(text);
    submit(window);
    print("init", response(window));
}

// ---------------------------------------------------------------- window

class DemoWindowOnWindows : public QObject {
    Q_OBJECT

private slots:
    void widgetTable() {
        MainWindow window;
        window.show();
        QCOMPARE(window.size(), QSize(683, 621));
        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        for (const WidgetRow &row : kWidgetTable) {
            QWidget *w = window.findChild<QWidget *>(QString::fromLatin1(row.name));
            QVERIFY2(w != nullptr, row.name);
            QCOMPARE(w->metaObject()->className(), row.className);
            QCOMPARE(w->geometry(), row.geometry);
            if (!row.text) continue;
            const QString text = qobject_cast<QLabel *>(w) ? qobject_cast<QLabel *>(w)->text()
                                                           : qobject_cast<QPushButton *>(w)->text();
            QCOMPARE(text, QString::fromUtf8(row.text));
        }
        auto *combo = window.findChild<QComboBox *>(QStringLiteral("typeComboBox"));
        QCOMPARE(combo->count(), 8);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(combo->itemText(i), QString::fromUtf8(kChooserItems[i]));
    }

    void everyChoiceLoadsItsSample() {
        MainWindow window;
        window.show();
        for (int i = 7; i >= 0; --i) {
            editor(window, "requestPlainTextEdit")->setPlainText(QStringLiteral("edited"));
            choose(window, i);
            QCOMPARE(editor(window, "requestPlainTextEdit")->toPlainText(),
                     QString::fromUtf8(demotest::kExpectedSamples[i]));
        }
    }

    void uploadWithoutImageShowsTheDemosOwnText() {
        MainWindow window;
        window.show();
        choose(window, 5);
        submit(window);
        QCOMPARE(editor(window, "responsePlainTextEdit")->toPlainText(),
                 QString::fromUtf8("{\"code\":\"1001\",\"msg\":\"请选择车辆附件!\"}"));
    }
};

// ---------------------------------------------------------------- requests

int requests(const QString &url, const QString &folder) {
    MainWindow window;
    window.show();
    init(window, url);

    // Saved through Qt, then chosen as the operator would. (The name is ASCII:
    // wine under a code page 936 locale that the host has not generated
    // cannot make other names on the Linux side.)
    const QString path = folder + QStringLiteral("/car-entry.png");
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::green);
    if (!image.save(path)) {
        print("image-saved", "no");
        return 1;
    }
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    print("image", file.readAll().toStdString());
    print("chosen", utf8(demotest::chooseFile(window, path)));
    auto *preview = window.findChild<QLabel *>(QStringLiteral("imgLabel"));
    print("preview", !preview->pixmap(Qt::ReturnByValue).isNull() ? "yes" : "no");

    for (int i = 1; i < 8; ++i) {
        choose(window, i);
        print("sample" + std::to_string(i),
              utf8(editor(window, "requestPlainTextEdit")->toPlainText()));
        submit(window);
        print("response" + std::to_string(i), response(window));
    }
    return 0;
}

// ---------------------------------------------------------------- commands

int commands(const QString &url) {
    MainWindow window;
    window.show();
    init(window, url);
    std::cout << "R serving -" << std::endl;
    // The driver closes standard input when it is done.
    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
    }).detach();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("window")) {
        // Qt Test's log goes to a file, printed here: under wine its own
        // writes to standard output are lost when that is a pipe.
        QTemporaryDir logDir;
        const QString log = logDir.filePath(QStringLiteral("qtest.txt"));
        QStringList arguments{QString::fromLocal8Bit(argv[0]), QStringLiteral("-o"),
                              log + QStringLiteral(",txt")};
        for (int i = 2; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
        DemoWindowOnWindows tests;
        const int failed = QTest::qExec(&tests, arguments);
        QFile file(log);
        if (file.open(QIODevice::ReadOnly)) std::cout << file.readAll().toStdString() << std::flush;
        return failed;
    }
    if (mode == QLatin1String("requests") && argc == 4)
        return requests(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (mode == QLatin1String("commands") && argc == 3)
        return commands(QString::fromLocal8Bit(argv[2]));
    std::cerr << "usage: zolvo_win32_demo_host window | requests URL DIR | commands URL"
              << std::endl;
    return 2;
}

#include "demo_host.moc"
