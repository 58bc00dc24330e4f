// The demo driving the real library against the rig's platform server and a
// real broker: every interface as submitted from the window, and the callback
// object answering commands published to the broker.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <QComboBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "demo_commands_script.h"
#include "demo_test_util.h"
#include "demostate.h"
#include "mainwindow.h"
#include "rig.h"

using demoscript::Form;
using demoscript::formOf;
using demoscript::replyFor;
using demotest::chooseFile;
using demotest::gbk;
using demotest::kExpectedSamples;
using demotest::pngBytes;
using demotest::utf8;
using demotest::writeFileByBytes;
using namespace std::chrono_literals;

namespace {

const char *const kKey = "586013972460318275";
const char *const kSampleUrl = "http://127.0.0.1:18080";

// gtest reports failures on the captured standard output: hand them, and
// everything the demo wrote, to standard error when the test fails.
class ReplayOnFailure
{
public:
    explicit ReplayOnFailure(const rig::OutputCapture &out) : out_(out) {}
    ~ReplayOnFailure()
    {
        if (::testing::Test::HasFailure())
            std::cerr << "---- captured standard output ----\n" << out_.text() << std::endl;
    }

private:
    const rig::OutputCapture &out_;
};

class DemoAgainstPlatform : public ::testing::Test
{
protected:
    void SetUp() override
    {
        demoscript::replyInGbk(server);
        window.show();
    }

    QPlainTextEdit *editor(const char *name)
    {
        return window.findChild<QPlainTextEdit *>(QString::fromLatin1(name));
    }
    std::string response() { return utf8(editor("responsePlainTextEdit")->toPlainText()); }

    void choose(int index)
    {
        emit window.findChild<QComboBox *>(QStringLiteral("typeComboBox"))->activated(index);
    }
    void submit() { window.findChild<QPushButton *>(QStringLiteral("submitButton"))->click(); }

    // The init sample, pointed at the rig's server instead of the demo's.
    void submitInit()
    {
        QString text = editor("requestPlainTextEdit")->toPlainText();
        text.replace(QString::fromLatin1(kSampleUrl), QString::fromStdString(server.baseUrl()));
        editor("requestPlainTextEdit")->setPlainText(text);
        submit();
        ASSERT_EQ(response(), "{\"code\":\"0000\",\"msg\":\"初始化成功!\"}");
    }

    rig::RecordedRequest only(const std::string &path)
    {
        const auto list = server.requestsTo(path);
        EXPECT_EQ(list.size(), 1u) << path;
        return list.empty() ? rig::RecordedRequest() : list.back();
    }

    rig::PlatformServer server;
    MainWindow window;
};

}  // namespace

TEST_F(DemoAgainstPlatform, SubmitRightAfterStartCallsInit)
{
    rig::OutputCapture out(1);
    ReplayOnFailure replay(out);
    submitInit();
    const rig::RecordedRequest r = only("/api/client/init.do");
    EXPECT_TRUE(rig::checkSign(r.body, kKey)) << r.body;
    const Form f = formOf(r);
    EXPECT_EQ(f.at("manufacturer"), "201808290001");
    EXPECT_EQ(f.at("parkCode"), "201808150001");
    EXPECT_EQ(f.at("sysCode"), "0001");
    EXPECT_EQ(f.at("channelNumber"), "A4");
    EXPECT_TRUE(out.waitFor(" request init() \n", 2s));

    // A second init: the library's refusal, shown decoded.
    submit();
    EXPECT_EQ(response(), "{\"code\":\"1010\",\"msg\":\"SDK已经初始化,请勿重复操作!\"}");
}

TEST_F(DemoAgainstPlatform, EverySampleReachesThePlatform)
{
    submitInit();
    rig::TempDir dir;
    const std::string image = dir.write("car.png", std::string("\x89PNG\r\n\x1a\n fake", 14));
    demoState.imagePath = image;  // as the file button leaves it
    const std::string plateUtf8 = demoscript::kSamplePlate;

    rig::OutputCapture out(1);
    ReplayOnFailure replay(out);
    for (const demoscript::SampleRequest &c : demoscript::sampleRequests()) {
        SCOPED_TRACE(c.path);
        choose(c.index);
        ASSERT_EQ(utf8(editor("requestPlainTextEdit")->toPlainText()), kExpectedSamples[c.index]);
        submit();
        EXPECT_EQ(response(), replyFor(c.path));
        const rig::RecordedRequest r = only(c.path);
        demoscript::checkSampleForm(c, formOf(r));
        const rig::Part *file = r.part("fileImage");
        EXPECT_EQ(file != nullptr, c.withImage);
        if (file) {
            EXPECT_EQ(file->contents, std::string("\x89PNG\r\n\x1a\n fake", 14));
        }
        if (c.lineAfter) {
            EXPECT_NE(out.text().find(c.lineAfter), std::string::npos);
        }
    }
    const std::string text = out.text();
    EXPECT_NE(text.find(" carNumber is :  " + gbk(plateUtf8) + "\n"), std::string::npos);
    EXPECT_NE(text.find(" request freeCar()  carNumber " + gbk(plateUtf8) +
                        "\n"
                        " request freeCar()  startTime 20180831133056\n"
                        " request freeCar()  endTime 20180830143056\n"
                        " request freeCar()  remarks baoyueche\n"
                        " request freeCar()  delFlag 0\n"),
              std::string::npos);
}

TEST_F(DemoAgainstPlatform, ValuesAreConvertedAndDurationNarrowedTo32Bits)
{
    submitInit();
    choose(2);
    // Numbers as strings, a string as a number, a duration of 2^32 + 3600.
    editor("requestPlainTextEdit")
        ->setPlainText(QString::fromUtf8(
            "{\"carNumber\":\"陕A88888\",\"outTime\":\"20180831133056\",\"orderId\":201808310001,"
            "\"orderAmount\":\"300\",\"duration\":4294970896,\"outType\":\"2\","
            "\"scanNumber\":\"s1\",\"unknown\":1}"));
    submit();
    Form f = formOf(only("/api/car/out.do"));
    EXPECT_EQ(f["duration"], "3600");
    EXPECT_EQ(f["orderAmount"], "300");
    EXPECT_EQ(f["outType"], "2");
    EXPECT_EQ(f["orderId"], "201808310001");

    // delFlag as the number 1; a Chinese remark reaches the platform intact.
    choose(7);
    editor("requestPlainTextEdit")
        ->setPlainText(QString::fromUtf8(
            "{\"carNumber\":\"陕A88888\",\"startTime\":\"20180831133056\","
            "\"endTime\":\"20180830143056\",\"remarks\":\"包月车\",\"delFlag\":1}"));
    submit();
    f = formOf(only("/api/free/car/push.do"));
    EXPECT_EQ(f["delFlag"], "1");
    EXPECT_EQ(f["remarks"], "包月车") << rig::hex(f["remarks"]);
}

TEST_F(DemoAgainstPlatform, UploadWithoutImageSendsNothing)
{
    submitInit();
    const size_t before = server.requestCount();
    choose(5);
    submit();
    EXPECT_EQ(response(), "{\"code\":\"1001\",\"msg\":\"请选择车辆附件!\"}");
    EXPECT_EQ(server.requestCount(), before);
}

// A plate GBK cannot hold (Hangul) would reach the platform as "?A88888": the
// demo refuses it, naming the field, and sends nothing.
TEST_F(DemoAgainstPlatform, TextTheCodePageCannotHoldIsRefusedAndNotSent)
{
    submitInit();
    const size_t before = server.requestCount();
    choose(1);
    QString text = editor("requestPlainTextEdit")->toPlainText();
    text.replace(QString::fromUtf8("陕A88888"), QString::fromUtf8("한A88888"));
    editor("requestPlainTextEdit")->setPlainText(text);
    submit();
    EXPECT_EQ(response(),
              "{\"code\":\"1000\",\"msg\":\"参数异常!carNumber中有系统代码页无法表示的字符,"
              "请求未发送!\"}");
    EXPECT_EQ(server.requestCount(), before);
}

TEST_F(DemoAgainstPlatform, ImageWithChineseNameIsUploaded)
{
    submitInit();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Saved through Qt, so the name on disk is the one Qt's file dialog sees.
    const QString path = dir.filePath(QString::fromUtf8("入场照片.png"));
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::green);
    ASSERT_TRUE(image.save(path));
    demoState.imagePath = path.toStdString();

    choose(5);
    submit();
    EXPECT_EQ(response(), replyFor("/api/file/upload.do"));
    const rig::RecordedRequest r = only("/api/file/upload.do");
    const rig::Part *file = r.part("fileImage");
    ASSERT_NE(file, nullptr);
    QFile onDisk(path);
    ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly));
    EXPECT_EQ(file->contents, onDisk.readAll().toStdString());
}

// The same against the platform, with the image chosen in the file dialog. Its
// threads give ThreadSanitizer false reports, which is why this is a window test.
class DemoWindow : public DemoAgainstPlatform
{
};

TEST_F(DemoWindow, ImageNamedInUtf8OnDiskIsChosenAndSentWhole)
{
    submitInit();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::green);
    const std::string contents = pngBytes(image);
    // Named straight through the system, as any other program names it.
    const std::string path = utf8(dir.path()) + "/车.png";
    ASSERT_TRUE(writeFileByBytes(path, contents));

    ASSERT_EQ(utf8(chooseFile(window, QString::fromStdString(path))), "");
    ASSERT_EQ(demoState.imagePath, path);

    const struct {
        int index;
        const char *endpoint;
    } sends[] = {{1, "/api/car/enter.do"}, {2, "/api/car/out.do"}, {5, "/api/file/upload.do"}};
    for (const auto &send : sends) {
        SCOPED_TRACE(send.endpoint);
        choose(send.index);
        submit();
        EXPECT_EQ(response(), replyFor(send.endpoint));
        const rig::RecordedRequest r = only(send.endpoint);
        const rig::Part *file = r.part("fileImage");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->filename, "车.png") << rig::hex(file->filename);
        EXPECT_TRUE(file->contents == contents) << file->contents.size() << " bytes";
    }
}

TEST_F(DemoAgainstPlatform, CallbackObjectAnswersBrokerCommands)
{
    if (QStandardPaths::findExecutable(QStringLiteral("mosquitto_pub")).isEmpty())
        GTEST_SKIP() << "mosquitto_pub not found (Debian: mosquitto-clients)";
    rig::Broker broker;
    const std::string topic = "zolvo/test/demo";
    server.setBroker(broker.uri(), topic);
    rig::OutputCapture out(1);
    ReplayOnFailure replay(out);
    submitInit();
    demoscript::checkFourCommands(server, broker, topic, [&] { return out.text(); });
}
