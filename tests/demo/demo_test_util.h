// Helpers shared by the demo's tests.
#ifndef ZOLVO_TESTS_DEMO_TEST_UTIL_H
#define ZOLVO_TESTS_DEMO_TEST_UTIL_H

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTextCodec>
#include <QTimer>
#include <QWidget>

namespace demotest {

// What the window is expected to show, written out independently of the demo
// (demo_samples_expected.cpp): its widgets in creation order, the chooser's
// eight entries and the eight sample request texts.
struct WidgetRow {
    const char *name;
    const char *className;
    QRect geometry;
    QSize minimumSize;  // (0, 0): none
    int pointSize;
    bool bold;
    const char *text;  // nullptr: not a label or button
};
extern const WidgetRow kWidgetTable[10];
extern const char *const kChooserItems[8];
extern const char *const kExpectedSamples[8];

// Redirects std::cout into a string while it lives (the demo writes its lines
// through std::cout only).
class CoutCapture
{
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

inline std::string utf8(const QString &s)
{
    return s.toStdString();
}

// GBK bytes of a UTF-8 text, by Qt's GBK table (not the locale setting).
inline std::string gbk(const std::string &utf8Text)
{
    const QByteArray b =
        QTextCodec::codecForName("GBK")->fromUnicode(QString::fromStdString(utf8Text));
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

// Writes `contents` to the file named by the bytes `path`, through the
// system's own calls. (Qt would name the file through its local 8-bit
// encoding, which is the thing under test.)
inline bool writeFileByBytes(const std::string &path, const std::string &contents)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool written =
        ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    return ::close(fd) == 0 && written;
}

// The bytes of `image` saved as PNG.
inline std::string pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The names the open file dialog lists in `directory`, once its model has read
// the folder (empty if it lists nothing within five seconds).
inline QStringList namesListed(QFileDialog *dialog, const QString &directory)
{
    dialog->setDirectory(directory);
    auto *model = dialog->findChild<QFileSystemModel *>();
    QStringList names;
    if (!model)
        return names;
    const QModelIndex folder = model->index(directory);
    if (!QTest::qWaitFor([&] { return model->rowCount(folder) > 0; }, 5000))
        return names;
    for (int row = 0; row < model->rowCount(folder); ++row)
        names << model->fileName(model->index(row, 0, folder));
    return names;
}

// Types `path` into the open file dialog and accepts it, as the operator
// would. Returns the text of the message box with which the dialog refuses a
// name that it cannot find (empty when it took the name); the refused choice
// is then cancelled.
inline QString typeFileName(QFileDialog *dialog, const QString &path)
{
    auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!edit)
        return QStringLiteral("no file name editor");
    edit->setText(path);
    // The refusal runs a message box of its own inside accept.
    QString refusal;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&refusal]() {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            refusal = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    poll.start();
    static_cast<QDialog *>(dialog)->accept();
    poll.stop();
    if (dialog->isVisible())
        dialog->reject();
    return refusal;
}

// Chooses `path` in the file dialog that `window`'s file button opens. Returns
// the dialog's refusal, as typeFileName does.
inline QString chooseFile(QWidget &window, const QString &path)
{
    QString refusal = QStringLiteral("no file dialog");
    whenModal([path, &refusal](QWidget *modal) {
        if (auto *dialog = qobject_cast<QFileDialog *>(modal))
            refusal = typeFileName(dialog, path);
    });
    window.findChild<QPushButton *>(QStringLiteral("fileButton"))->click();
    return refusal;
}

}  // namespace demotest

#endif  // ZOLVO_TESTS_DEMO_TEST_UTIL_H
