#include "mainwindow.h"

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include <QByteArray>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMessageBox>
#include <QPixmap>
#include <QTextCodec>
#include <QVariant>
#include <QVariantMap>

#include "zolvo_sdk/zolvo_sdk.h"

#include "callbackimpl.h"
#include "demostate.h"
#include "localencoding.h"
#include "samples.h"
#include "translate.h"  // before the generated form, which calls mainWindowTr
#include "ui_mainwindow.h"

DemoState demoState;

namespace {

// The values one submit takes from the request text: empty, 0 or false unless
// the JSON object holds the key. Texts are held as UTF-8 (and logged so), the
// plate in the ANSI code page.
struct RequestFields {
    std::string manufacturer, parkCode, sysCode, channelNumber, key, zolvoUrl;
    std::string carNumber;  // in the ANSI code page
    std::string inTime, orderId, outTime, finishTime, attType, startTime, endTime, remarks,
        scanNumber;
    std::int32_t duration = 0;
    int orderAmount = 0;
    int entryType = 0;
    int outType = 0;
    bool delFlag = false;
};

std::string utf8Field(const QVariantMap &map, const char *key)
{
    return map.value(QString::fromLatin1(key)).toString().toStdString();
}

RequestFields fieldsFromMap(const QVariantMap &map)
{
    RequestFields f;
    f.manufacturer = utf8Field(map, "manufacturer");
    f.parkCode = utf8Field(map, "parkCode");
    f.sysCode = utf8Field(map, "sysCode");
    f.channelNumber = utf8Field(map, "channelNumber");
    f.key = utf8Field(map, "key");
    f.zolvoUrl = utf8Field(map, "zolvoUrl");
    f.inTime = utf8Field(map, "inTime");
    f.orderId = utf8Field(map, "orderId");
    f.outTime = utf8Field(map, "outTime");
    f.finishTime = utf8Field(map, "finishTime");
    f.attType = utf8Field(map, "attType");
    f.startTime = utf8Field(map, "startTime");
    f.endTime = utf8Field(map, "endTime");
    f.remarks = utf8Field(map, "remarks");
    f.scanNumber = utf8Field(map, "scanNumber");

    // Only the plate travels in the ANSI code page, and only up to a NUL.
    f.carNumber = toAnsi(map.value(QStringLiteral("carNumber")).toString());

    // The library's duration is 32 bits wide on the target: keep the low 32 bits.
    const qlonglong duration = map.value(QStringLiteral("duration")).toLongLong();
    f.duration = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<qulonglong>(duration) & 0xFFFFFFFFull));

    f.orderAmount = map.value(QStringLiteral("orderAmount")).toInt();
    f.entryType = map.value(QStringLiteral("entryType")).toInt();
    f.outType = map.value(QStringLiteral("outType")).toInt();
    f.delFlag = map.value(QStringLiteral("delFlag")).toBool();
    return f;
}

// The library takes its texts in the ANSI code page, like the plate: a text
// held as UTF-8 is converted on its way in, so that a Chinese remark is not
// garbled on the way to the platform. ASCII texts pass unchanged.
std::string ansi(const std::string &utf8)
{
    return toAnsi(QString::fromStdString(utf8));
}

// The chosen image's path (held as UTF-8) as the library opens the file; empty
// when none was chosen.
std::string imageArgument()
{
    return toLibraryPath(QString::fromStdString(demoState.imagePath));
}

// The demo's own result for an upload without a chosen image, in GBK like the
// library's own result texts.
std::string noImageResult()
{
    const QByteArray bytes = ansiCodec()->fromUnicode(
        QString::fromUtf8("{\"code\":\"1001\",\"msg\":\"请选择车辆附件!\"}"));
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Where a text that an interface hands the library comes from: a key of the
// request, or (kImagePath) the chosen image's path.
const char *const kImagePath = nullptr;

// The texts each interface hands the library in the ANSI code page, in the
// order of its arguments (index: the chooser's); in step with the calls of
// on_submitButton_clicked.
const std::vector<const char *> kAnsiTexts[kInterfaceCount] = {
    {"manufacturer", "parkCode", "sysCode", "channelNumber", "key", "zolvoUrl"},
    {"carNumber", "inTime", "orderId", kImagePath, "scanNumber"},
    {"carNumber", "outTime", "orderId", kImagePath, "scanNumber"},
    {"orderId", "carNumber", "finishTime"},
    {"orderId"},
    {"orderId", kImagePath, "attType"},
    {"carNumber", "startTime", "endTime", "orderId"},
    {"carNumber", "startTime", "endTime", "remarks"},
};

// The name of the first text of interface `index` that the ANSI code page
// cannot hold as it is (its key, or "图片路径"); empty when every one fits.
QString unfitText(const QVariantMap &map, int index)
{
    if (index < 0 || index >= kInterfaceCount)
        return QString();
    for (const char *key : kAnsiTexts[index]) {
        if (key == kImagePath) {
            if (!fitsLibraryPath(QString::fromStdString(demoState.imagePath)))
                return QString::fromUtf8("图片路径");
        } else if (!fitsAnsi(map.value(QString::fromLatin1(key)).toString())) {
            return QString::fromLatin1(key);
        }
    }
    return QString();
}

// The demo's own result for a text it would have to change on its way to the
// library (a character the system's code page lacks would reach the platform
// as "?"): the request is not sent. In GBK like the library's own result texts.
std::string unfitResult(const QString &name)
{
    const QByteArray bytes = ansiCodec()->fromUnicode(
        QString::fromUtf8("{\"code\":\"1000\",\"msg\":\"参数异常!%1中有系统代码页无法表示的字符,"
                          "请求未发送!\"}")
            .arg(name));
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindowForm)
{
    ui->setupUi(this);
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::on_typeComboBox_activated(int index)
{
    demoState.selectedInterface = index;
    ui->requestPlainTextEdit->setPlainText(sampleRequest(index));
    std::cout << "you select interface is :" << index << std::endl;
}

void MainWindow::on_fileButton_clicked()
{
    const QString fileName = QFileDialog::getOpenFileName(
        this, mainWindowTr("选择图像"), QString(), mainWindowTr("Images (*.png *.bmp *.jpg)"));
    if (fileName.isEmpty())
        return;

    QImage image;
    if (!image.load(fileName)) {
        QMessageBox::information(this, mainWindowTr("打开图像失败"), mainWindowTr("打开图像失败!"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }

    const QImage preview =
        image.scaled(ui->imgLabel->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    ui->imgLabel->setPixmap(QPixmap::fromImage(preview));

    demoState.imagePath = fileName.toStdString();
    std::cout << "image filename is :" << demoState.imagePath << std::endl;
    std::cout << "image path is :" << QFileInfo(fileName).absolutePath().toStdString() << std::endl;
}

void MainWindow::on_submitButton_clicked()
{
    using zolvo_sdk::ZOLVOSDK;

    std::cout << " ================= start request =================== " << std::endl;

    const QString requestText = ui->requestPlainTextEdit->document()->toPlainText();
    std::cout << " request data:  " << toAnsi(requestText) << std::endl;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(requestText.toUtf8(), &parseError);
    QVariantMap map;
    if (parseError.error != QJsonParseError::NoError) {
        std::cout << " json addrqwqw " << std::endl;
    } else {
        // An array yields an empty map: every field stays empty, 0 or false.
        map = document.toVariant().toMap();
    }
    const RequestFields f = fieldsFromMap(map);

    // A text the system's code page cannot hold is refused before anything
    // reaches the library.
    const QString unfit = unfitText(map, demoState.selectedInterface);
    if (!unfit.isEmpty()) {
        showResult(unfitResult(unfit));
        return;
    }

    // A new callback object on every submit; the library owns it from here on.
    // The next submit's registration replaces it without deleting it: the
    // command channel, if it took this object when it started, keeps calling it
    // until the library is torn down, which the demo never does; otherwise no
    // one frees it, a loss the ownership rules allow.
    ZOLVOSDK::setCommandInterface(CallBackImpl::create());

    std::string result;
    switch (demoState.selectedInterface) {
        case kChooseInit:
            std::cout << " request init() " << std::endl;
            result = ZOLVOSDK::init(ansi(f.manufacturer), ansi(f.parkCode), ansi(f.sysCode),
                                    ansi(f.channelNumber), ansi(f.key), ansi(f.zolvoUrl));
            break;
        case kChooseEntry:
            result = ZOLVOSDK::entry(f.carNumber, ansi(f.inTime), ansi(f.orderId), imageArgument(),
                                     f.entryType, ansi(f.scanNumber));
            std::cout << " request in() " << std::endl;
            break;
        case kChooseLeave:
            std::cout << " carNumber is :  " << f.carNumber << std::endl;
            result = ZOLVOSDK::leave(f.carNumber, ansi(f.outTime), ansi(f.orderId), f.duration,
                                     f.orderAmount, imageArgument(), f.outType, ansi(f.scanNumber));
            std::cout << " request out() " << std::endl;
            break;
        case kChooseFinish:
            result = ZOLVOSDK::finish(ansi(f.orderId), f.carNumber, ansi(f.finishTime));
            std::cout << " request finish() " << std::endl;
            break;
        case kChooseQueryOrder:
            result = ZOLVOSDK::queryOrder(ansi(f.orderId));
            std::cout << " request orderQuery() " << std::endl;
            break;
        case kChooseUploadFile:
            if (demoState.imagePath.empty())
                result = noImageResult();
            else
                result = ZOLVOSDK::uploadFile(ansi(f.orderId), imageArgument(), ansi(f.attType));
            break;
        case kChooseSuppOrder:
            result = ZOLVOSDK::suppOrder(f.carNumber, ansi(f.startTime), ansi(f.endTime),
                                         ansi(f.orderId), f.duration, f.orderAmount);
            std::cout << " request suppOrder() " << std::endl;
            break;
        case kChooseFreeCar:
            std::cout << " request freeCar()  carNumber " << f.carNumber << std::endl;
            std::cout << " request freeCar()  startTime " << f.startTime << std::endl;
            std::cout << " request freeCar()  endTime " << f.endTime << std::endl;
            std::cout << " request freeCar()  remarks " << f.remarks << std::endl;
            std::cout << " request freeCar()  delFlag " << (f.delFlag ? 1 : 0) << std::endl;
            result = ZOLVOSDK::freeCar(f.carNumber, ansi(f.startTime), ansi(f.endTime),
                                       ansi(f.remarks), f.delFlag);
            std::cout << " request freeCar() " << std::endl;
            break;
        default:
            break;
    }

    showResult(result);
}

void MainWindow::showResult(const std::string &result)
{
    std::cout << " responseData : " << result << std::endl;
    ui->responsePlainTextEdit->setPlainText(fromAnsi(result));
    std::cout << " ================= end request =================== " << std::endl;
}
