// Helpers shared by the demo's tests.
#ifndef ZOLVO_TESTS_DEMO_TEST_UTIL_H
#define ZOLVO_TESTS_DEMO_TEST_UTIL_H

#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QTextCodec>
#include <QTimer>
#include <QWidget>

namespace demotest {

// The eight sample request texts, written out here independently of the demo.
extern const char *const kExpectedSamples[8];

// Redirects std::cout into a string while it lives (the demo writes its lines
// through std::cout only).
class CoutCapture {
public:
    CoutCapture() : old_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(old_); }
    CoutCapture(const CoutCapture &) = delete;
    CoutCapture &operator=(const CoutCapture &) = delete;
    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf *old_;
};

// Runs `action` on the first application-modal widget that shows up, from the
// modal dialog's own event loop. Stops polling once the action has run.
inline void whenModal(std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, action]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

inline std::string utf8(const QString &s) { return s.toStdString(); }

// GBK bytes of a UTF-8 text, by Qt's GBK table (not the locale setting).
inline std::string gbk(const std::string &utf8Text)
{
    const QByteArray b =
        QTextCodec::codecForName("GBK")->fromUnicode(QString::fromStdString(utf8Text));
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

}  // namespace demotest

#endif  // ZOLVO_TESTS_DEMO_TEST_UTIL_H
