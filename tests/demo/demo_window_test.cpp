// The demo window as the operator sees it: the widget table, the translation
// lookups, choosing an interface, choosing an image, and the submit slot's
// handling of texts the library never sees.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTranslator>

#include "demo_test_util.h"
#include "demostate.h"
#include "mainwindow.h"

using demotest::chooseFile;
using demotest::CoutCapture;
using demotest::gbk;
using demotest::kChooserItems;
using demotest::kExpectedSamples;
using demotest::kWidgetTable;
using demotest::namesListed;
using demotest::pngBytes;
using demotest::typeFileName;
using demotest::utf8;
using demotest::whenModal;
using demotest::WidgetRow;
using demotest::writeFileByBytes;

namespace {

template <typename T>
T *child(QWidget &window, const char *name)
{
    T *w = window.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// A catalogue that translates nothing but notes every lookup.
class RecordingTranslator : public QTranslator
{
public:
    struct Lookup {
        std::string context, source, comment;
    };
    std::vector<Lookup> lookups;
    QString translate(const char *context, const char *source, const char *comment,
                      int) const override
    {
        const_cast<RecordingTranslator *>(this)->lookups.push_back(
            {context ? context : "", source ? source : "", comment ? comment : ""});
        return QString();
    }
    bool isEmpty() const override { return false; }
};

QImage stripes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            image.setPixel(x, y, (x % 2) ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    return image;
}

}  // namespace

TEST(DemoWindow, MatchesTheWidgetTable)
{
    MainWindow window;
    window.show();

    EXPECT_EQ(window.objectName(), QStringLiteral("MainWindow"));
    EXPECT_STREQ(window.metaObject()->className(), "MainWindow");
    EXPECT_EQ(window.size(), QSize(683, 621));
    EXPECT_TRUE(window.windowTitle().isEmpty());
    EXPECT_EQ(window.menuWidget(), nullptr);
    EXPECT_TRUE(window.findChildren<QToolBar *>().isEmpty());
    EXPECT_EQ(utf8(window.font().family()), "微软雅黑");
    EXPECT_EQ(window.font().pointSize(), 12);
    EXPECT_EQ(window.font().weight(), 50);
    EXPECT_FALSE(window.font().bold());

    QWidget *central = window.centralWidget();
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->objectName(), QStringLiteral("centralWidget"));
    QStatusBar *status = child<QStatusBar>(window, "statusBar");
    EXPECT_EQ(window.statusBar(), status);
    EXPECT_TRUE(status->currentMessage().isEmpty());

    // Creation order is the order of the children (and of their stacking).
    std::vector<std::string> created;
    for (QObject *o : central->children())
        if (o->isWidgetType())
            created.push_back(o->objectName().toStdString());
    std::vector<std::string> expectedOrder;
    for (const WidgetRow &row : kWidgetTable) expectedOrder.push_back(row.name);
    EXPECT_EQ(created, expectedOrder);

    for (const WidgetRow &row : kWidgetTable) {
        SCOPED_TRACE(row.name);
        QWidget *w = child<QWidget>(window, row.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), row.className);
        EXPECT_EQ(w->parentWidget(), central);
        EXPECT_EQ(w->geometry(), row.geometry);
        EXPECT_EQ(w->minimumSize(), row.minimumSize);
        EXPECT_EQ(utf8(w->font().family()), "微软雅黑");
        EXPECT_EQ(w->font().pointSize(), row.pointSize);
        EXPECT_EQ(w->font().bold(), row.bold);
        EXPECT_EQ(w->font().weight(), row.bold ? 75 : 50);
        if (auto *label = qobject_cast<QLabel *>(w)) {
            EXPECT_EQ(utf8(label->text()), row.text);
        }
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            EXPECT_EQ(utf8(button->text()), row.text);
        }
    }

    auto *combo = child<QComboBox>(window, "typeComboBox");
    ASSERT_EQ(combo->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(utf8(combo->itemText(i)), kChooserItems[i]);
        EXPECT_FALSE(combo->itemData(i).isValid());
    }
    EXPECT_EQ(combo->currentIndex(), 0);

    auto *request = child<QPlainTextEdit>(window, "requestPlainTextEdit");
    auto *response = child<QPlainTextEdit>(window, "responsePlainTextEdit");
    EXPECT_EQ(utf8(request->toPlainText()), kExpectedSamples[0]);
    EXPECT_FALSE(request->isReadOnly());
    EXPECT_TRUE(response->toPlainText().isEmpty());
    EXPECT_TRUE(response->isEnabled());
    EXPECT_FALSE(response->isReadOnly());
    EXPECT_TRUE(child<QLabel>(window, "imgLabel")->pixmap(Qt::ReturnByValue).isNull());

    // Tab order among the six widgets that take focus.
    const std::vector<std::string> tabbable = {"typeComboBox",          "requestPlainTextEdit",
                                               "responsePlainTextEdit", "fileButton",
                                               "cancelButton",          "submitButton"};
    std::vector<std::string> chain;
    QWidget *w = combo;
    do {
        const std::string name = w->objectName().toStdString();
        if (std::find(tabbable.begin(), tabbable.end(), name) != tabbable.end())
            chain.push_back(name);
        w = w->nextInFocusChain();
    } while (w != combo && chain.size() < 12);
    EXPECT_EQ(chain, tabbable);

    // Three private slots, in order, and nothing else of its own.
    const QMetaObject *meta = window.metaObject();
    std::vector<std::string> own;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        EXPECT_EQ(m.methodType(), QMetaMethod::Slot);
        EXPECT_EQ(m.access(), QMetaMethod::Private);
        own.push_back(m.methodSignature().toStdString());
    }
    EXPECT_EQ(own,
              (std::vector<std::string>{"on_typeComboBox_activated(int)", "on_fileButton_clicked()",
                                        "on_submitButton_clicked()"}));
    EXPECT_EQ(meta->propertyCount(), meta->propertyOffset());

    // Nothing is laid out: a resize moves no widget; cancel does nothing.
    window.resize(1000, 900);
    QApplication::processEvents();
    for (const WidgetRow &row : kWidgetTable)
        EXPECT_EQ(child<QWidget>(window, row.name)->geometry(), row.geometry) << row.name;
    CoutCapture out;
    child<QPushButton>(window, "cancelButton")->click();
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(response->toPlainText().isEmpty());
}

TEST(DemoWindow, LooksEveryTextUpInTheWindowsContext)
{
    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    {
        MainWindow window;
        QCoreApplication::removeTranslator(&translator);
    }
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto &l : translator.lookups) {
        if (!l.context.empty() && l.context[0] == 'Q')
            continue;  // the toolkit's own widgets
        EXPECT_EQ(l.context, "MainWindow") << l.source;
        seen.emplace_back(l.source, l.comment);
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"初始化", "init"},
        {"车辆入场", "in"},
        {"离场前", "out"},
        {"离场后", "leave"},
        {"订单查询", "orderQuery"},
        {"附件上传", ""},
        {"订单补缴", ""},
        {"免费车辆", ""},
        {"请求参数:", ""},
        {"返回值:", ""},
        {"取消", ""},
        {"确定", ""},
        {"选择图片", ""},
        {"数据接口:", ""},
        {kExpectedSamples[0], ""},
    };
    EXPECT_EQ(seen, expected);
}

TEST(DemoWindow, ChoosingAnInterfaceLoadsItsSampleOverEdits)
{
    MainWindow window;
    window.show();
    auto *combo = child<QComboBox>(window, "typeComboBox");
    auto *request = child<QPlainTextEdit>(window, "requestPlainTextEdit");

    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        request->setPlainText(QStringLiteral("edited"));
        CoutCapture out;
        emit combo->activated(i);
        EXPECT_EQ(demoState.selectedInterface, i);
        EXPECT_EQ(utf8(request->toPlainText()), kExpectedSamples[i]);
        EXPECT_EQ(out.text(), "you select interface is :" + std::to_string(i) + "\n");
    }

    // The item already current, chosen again, throws the edits away too.
    request->setPlainText(QStringLiteral("{\"orderId\":\"x\"}"));
    emit combo->activated(7);
    EXPECT_EQ(utf8(request->toPlainText()), kExpectedSamples[7]);

    // A change made by the program is no choice of the operator's.
    combo->setCurrentIndex(2);
    EXPECT_EQ(demoState.selectedInterface, 7);

    // The binding by name reacts to the keyboard.
    combo->setCurrentIndex(0);
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(demoState.selectedInterface, 1);
    EXPECT_EQ(utf8(request->toPlainText()), kExpectedSamples[1]);
}

TEST(DemoWindow, PreviewIsStretchedUnsmoothedAndKeptOnCancelOrFailure)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wide = dir.filePath(QStringLiteral("wide.png"));
    ASSERT_TRUE(stripes(1000, 100).save(wide));
    const QString broken = dir.filePath(QStringLiteral("broken.png"));
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not an image at all");
    }

    MainWindow window;
    window.show();
    auto *label = child<QLabel>(window, "imgLabel");

    // The dialog's caption and filter.
    QString caption, filters;
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        caption = dialog->windowTitle();
        filters = dialog->nameFilters().join(QStringLiteral(";;"));
        typeFileName(dialog, wide);
    });
    {
        CoutCapture out;
        child<QPushButton>(window, "fileButton")->click();
        EXPECT_EQ(out.text(), "image filename is :" + utf8(wide) + "\nimage path is :" +
                                  utf8(QDir(dir.path()).absolutePath()) + "\n");
    }
    EXPECT_EQ(utf8(caption), "选择图像");
    EXPECT_EQ(utf8(filters), "Images (*.png *.bmp *.jpg)");
    EXPECT_EQ(demoState.imagePath, utf8(wide));

    const QImage shown = label->pixmap(Qt::ReturnByValue).toImage();
    ASSERT_EQ(shown.size(), QSize(341, 151));
    bool red = false, blue = false;
    for (int x = 0; x < shown.width(); ++x) {
        const QRgb p = shown.pixel(x, 75) & 0xFFFFFF;
        red |= p == 0xFF0000;
        blue |= p == 0x0000FF;
        ASSERT_TRUE(p == 0xFF0000 || p == 0x0000FF) << "blended pixel at " << x;
    }
    EXPECT_TRUE(red && blue);
    const qint64 previewKey = label->pixmap(Qt::ReturnByValue).cacheKey();

    // Cancelling keeps everything.
    whenModal([](QWidget *modal) { static_cast<QDialog *>(modal)->reject(); });
    {
        CoutCapture out;
        child<QPushButton>(window, "fileButton")->click();
        EXPECT_EQ(out.text(), "");
    }
    EXPECT_EQ(label->pixmap(Qt::ReturnByValue).cacheKey(), previewKey);
    EXPECT_EQ(demoState.imagePath, utf8(wide));

    // A file that does not load: the message box, and everything kept.
    QString title, text;
    QMessageBox::StandardButtons buttons;
    whenModal([&](QWidget *dialogWidget) {
        auto *dialog = qobject_cast<QFileDialog *>(dialogWidget);
        ASSERT_NE(dialog, nullptr);
        whenModal([&](QWidget *boxWidget) {
            auto *box = qobject_cast<QMessageBox *>(boxWidget);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        });
        typeFileName(dialog, broken);
    });
    {
        CoutCapture out;
        child<QPushButton>(window, "fileButton")->click();
        EXPECT_EQ(out.text(), "");
    }
    EXPECT_EQ(utf8(title), "打开图像失败");
    EXPECT_EQ(utf8(text), "打开图像失败!");
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(label->pixmap(Qt::ReturnByValue).cacheKey(), previewKey);
    EXPECT_EQ(demoState.imagePath, utf8(wide));
}

TEST(DemoWindow, NonAsciiImagePathIsStoredAndLoggedAsUtf8)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Qt names the file through the local 8-bit encoding, as the dialog sees it.
    const QString path = dir.filePath(QString::fromUtf8("入场照片.bmp"));
    ASSERT_TRUE(stripes(20, 10).save(path));

    MainWindow window;
    window.show();
    CoutCapture out;
    EXPECT_EQ(utf8(chooseFile(window, path)), "");
    EXPECT_EQ(demoState.imagePath, utf8(path));
    EXPECT_NE(out.text().find("image filename is :" + utf8(path) + "\n"), std::string::npos);
}

// A name stored as UTF-8 by another program, the usual case on Linux: the
// dialog lists it as it is and takes it, the preview shows it, and the path is
// kept and logged as that UTF-8 name.
TEST(DemoWindow, ImageNamedInUtf8OnDiskIsListedChosenAndLogged)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string name = "车.png";
    const std::string path = utf8(dir.path()) + "/" + name;
    ASSERT_TRUE(writeFileByBytes(path, pngBytes(stripes(40, 20))));

    MainWindow window;
    window.show();
    QStringList listed;
    QString refusal = QStringLiteral("no file dialog");
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        ASSERT_NE(dialog, nullptr);
        listed = namesListed(dialog, dir.path());
        refusal = typeFileName(dialog, QString::fromStdString(path));
    });
    CoutCapture out;
    child<QPushButton>(window, "fileButton")->click();

    EXPECT_EQ(listed, QStringList(QString::fromStdString(name)))
        << utf8(listed.join(QStringLiteral(" | ")));
    EXPECT_EQ(utf8(refusal), "");
    EXPECT_EQ(demoState.imagePath, path);
    EXPECT_EQ(out.text(), "image filename is :" + path +
                              "\nimage path is :" + utf8(QDir(dir.path()).absolutePath()) + "\n");
    const QImage shown = child<QLabel>(window, "imgLabel")->pixmap(Qt::ReturnByValue).toImage();
    ASSERT_EQ(shown.size(), QSize(341, 151));
    EXPECT_TRUE((shown.pixel(0, 75) & 0xFFFFFF) == 0x0000FF);
}

// Submits that the library refuses before any request: the lines around the
// call and the result shown decoded from GBK.
TEST(DemoSubmit, InvalidJsonIsReportedAndTheCallStillMade)
{
    MainWindow window;
    window.show();
    auto *request = child<QPlainTextEdit>(window, "requestPlainTextEdit");
    auto *response = child<QPlainTextEdit>(window, "responsePlainTextEdit");

    request->setPlainText(QStringLiteral("{\"manufacturer\":\"1\",\n"));
    CoutCapture out;
    child<QPushButton>(window, "submitButton")->click();
    // init with every field empty: the library's refusal of the first argument.
    const std::string refusal = "{\"code\":\"1000\",\"msg\":\"参数异常!未知的厂商编号!\"}";
    EXPECT_EQ(utf8(response->toPlainText()), refusal);
    EXPECT_EQ(out.text(), " ================= start request =================== \n"
                          " request data:  {\"manufacturer\":\"1\",\n\n"
                          " json addrqwqw \n"
                          " request init() \n"
                          " responseData : " +
                              gbk(refusal) +
                              "\n"
                              " ================= end request =================== \n");

    // An empty editor is invalid JSON as well.
    request->clear();
    CoutCapture again;
    child<QPushButton>(window, "submitButton")->click();
    EXPECT_NE(again.text().find(" json addrqwqw \n"), std::string::npos);
    EXPECT_EQ(utf8(response->toPlainText()), refusal);
}

TEST(DemoSubmit, ArrayCallsWithEmptyFieldsAndNoJsonLine)
{
    MainWindow window;
    auto *combo = child<QComboBox>(window, "typeComboBox");
    emit combo->activated(4);
    child<QPlainTextEdit>(window, "requestPlainTextEdit")->setPlainText(QStringLiteral("[1,2]"));
    CoutCapture out;
    child<QPushButton>(window, "submitButton")->click();
    EXPECT_EQ(out.text().find("json addrqwqw"), std::string::npos);
    EXPECT_NE(out.text().find(" request orderQuery() \n"), std::string::npos);
    // Not initialised: the library's state refusal comes back, decoded from GBK.
    EXPECT_EQ(utf8(child<QPlainTextEdit>(window, "responsePlainTextEdit")->toPlainText()),
              "{\"code\":\"1010\",\"msg\":\"SDK未初始化!\"}");
}

TEST(DemoSubmit, UploadWithoutImageShowsTheDemosOwnText)
{
    MainWindow window;
    emit child<QComboBox>(window, "typeComboBox")->activated(5);
    auto *response = child<QPlainTextEdit>(window, "responsePlainTextEdit");
    response->setPlainText(QStringLiteral("previous"));
    CoutCapture out;
    child<QPushButton>(window, "submitButton")->click();
    const std::string own = "{\"code\":\"1001\",\"msg\":\"请选择车辆附件!\"}";
    EXPECT_EQ(utf8(response->toPlainText()), own);
    // Written as its bytes in the local 8-bit encoding, like the library's texts.
    EXPECT_NE(out.text().find(" responseData : " + gbk(own) + "\n"), std::string::npos);
}
