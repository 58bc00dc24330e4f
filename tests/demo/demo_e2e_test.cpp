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

#include "demo_test_util.h"
#include "demostate.h"
#include "mainwindow.h"
#include "rig.h"

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

using Form = std::map<std::string, std::string>;

Form formOf(const rig::RecordedRequest &r)
{
    Form form;
    for (const auto &kv : rig::parseForm(rig::wireForm(r))) form[kv.first] = kv.second;
    return form;
}

// Every reply carries Chinese in GBK, so the editor proves it decodes from GBK.
std::string replyFor(const std::string &path)
{
    return "{\"code\":\"0000\",\"msg\":\"已收到" + path + "\"}";
}

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
        for (const char *path : rig::kEndpoints) {
            if (std::string(path) == "/api/client/init.do")
                continue;
            rig::Reply reply;
            reply.body = gbk(replyFor(path));
            reply.contentType = "application/json;charset=GBK";
            server.setReply(path, reply);
        }
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
    const std::string plateUtf8 = "陕A88888";

    rig::OutputCapture out(1);
    ReplayOnFailure replay(out);
    struct Expect {
        int index;
        const char *path;
        Form fields;
        bool withImage;
        const char *lineAfter;
    };
    const Expect cases[] = {
        {1,
         "/api/car/enter.do",
         {{"carNumber", plateUtf8},
          {"inTime", "20180831123056"},
          {"orderId", "201808310001"},
          {"parkCode", "201808150001"},
          {"sysCode", "0001"}},
         true,
         " request in() \n"},
        {2,
         "/api/car/out.do",
         {{"carNumber", plateUtf8},
          {"outTime", "20180831133056"},
          {"orderId", "201808310001"},
          {"orderAmount", "300"},
          {"duration", "3600"},
          {"outType", "2"},
          {"scanNumber", "25de84afecb04c3a87670f4a7005ec49"}},
         true,
         " request out() \n"},
        // finish sends its form in the ANSI code page.
        {3,
         "/api/car/leave.do",
         {{"carNumber", gbk(plateUtf8)},
          {"orderId", "201808310001"},
          {"finishTime", "20180831133156"}},
         false,
         " request finish() \n"},
        {4,
         "/api/order/query.do",
         {{"orderId", "201808310001"}, {"parkCode", "201808150001"}},
         false,
         " request orderQuery() \n"},
        {5,
         "/api/file/upload.do",
         {{"orderId", "201808310001"}, {"attType", "entry"}},
         true,
         nullptr},
        {6,
         "/api/order/supp.do",
         {{"carNumber", plateUtf8},
          {"startTime", "20180831133056"},
          {"endTime", "20180831143056"},
          {"orderId", "201808310001"},
          {"orderAmount", "300"},
          {"duration", "3600"}},
         false,
         " request suppOrder() \n"},
        {7,
         "/api/free/car/push.do",
         {{"carNumber", plateUtf8},
          {"startTime", "20180831133056"},
          {"endTime", "20180830143056"},
          {"remarks", "baoyueche"},
          {"delFlag", "0"}},
         false,
         " request freeCar() \n"},
    };
    for (const Expect &c : cases) {
        SCOPED_TRACE(c.path);
        choose(c.index);
        ASSERT_EQ(utf8(editor("requestPlainTextEdit")->toPlainText()), kExpectedSamples[c.index]);
        submit();
        EXPECT_EQ(response(), replyFor(c.path));
        const rig::RecordedRequest r = only(c.path);
        const Form f = formOf(r);
        for (const auto &kv : c.fields) {
            ASSERT_TRUE(f.count(kv.first)) << kv.first;
            EXPECT_EQ(f.at(kv.first), kv.second) << kv.first << ": " << rig::hex(f.at(kv.first));
        }
        if (c.index == 1) {
            EXPECT_FALSE(f.count("entryType"));
            EXPECT_FALSE(f.count("scanNumber"));
        }
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
    rig::CliPublisher publisher(broker.port());

    // prePay: published until the library's subscription stands.
    const std::string prePay =
        "{\"command\":\"prePay\",\"parkCode\":\"OTHER\",\"orderId\":\"ORD00001\","
        "\"carNumber\":\"ABC1234\"}";
    bool answered = false;
    for (int i = 0; i < 30 && !answered; ++i) {
        ASSERT_TRUE(publisher.publish(topic, prePay));
        answered = server.waitForRequests(1, 300ms, "/api/order/receive.do");
    }
    if (!answered)
        std::cerr << "---- broker log ----\n" << broker.log() << std::endl;
    ASSERT_TRUE(answered);
    const Form push = formOf(server.requestsTo("/api/order/receive.do").front());
    const Form expectedPush = {{"carNumber", "ABC1234"},     {"duration", "3600"},
                               {"inChannel", "0001"},        {"inTime", "20180831123056"},
                               {"orderAmount", "300"},       {"orderId", "ORD00001"},
                               {"outChannel", "A4"},         {"outTime", "20180831133056"},
                               {"parkCode", "201808150001"}, {"sysCode", "0001"}};
    for (const auto &kv : expectedPush)
        EXPECT_EQ(push.count(kv.first) ? push.at(kv.first) : "<none>", kv.second) << kv.first;
    EXPECT_TRUE(out.waitFor(
        "CallBackImpl --> queryOrder() -->" + gbk(replyFor("/api/order/receive.do")) + "\n", 5s));
    EXPECT_NE(out.text().find("client interface impl queryOrder() \n"
                              "CallBackImpl --> _carNumber() -->ABC1234\n"),
              std::string::npos);

    // qrCodePay: scanningOrder with the scan number; tempCar stays here.
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"qrCodePay\",\"parkCode\":\"PK\",\"sysCode\":\"SY\","
               "\"channel\":\"CH\",\"scanNumber\":\"SCAN0001\",\"orderId\":\"ORD00002\","
               "\"carNumber\":\"ABC1234\",\"tempCar\":7}"));
    ASSERT_TRUE(server.waitForRequests(1, 5s, "/api/qr/order/receive.do"));
    const Form qr = formOf(server.requestsTo("/api/qr/order/receive.do").front());
    EXPECT_EQ(qr.at("scanNumner"), "SCAN0001");
    EXPECT_EQ(qr.at("orderId"), "ORD00002");
    EXPECT_EQ(qr.at("carNumber"), "ABC1234");
    EXPECT_EQ(qr.at("inTime"), "20180831123056");
    EXPECT_EQ(qr.at("inChannel"), "0001");
    EXPECT_EQ(qr.at("outTime"), "20180831133056");
    EXPECT_EQ(qr.at("duration"), "3600");
    EXPECT_EQ(qr.at("orderAmount"), "300");
    EXPECT_EQ(qr.at("parkCode"), "201808150001");
    EXPECT_FALSE(qr.count("tempCar"));
    EXPECT_TRUE(out.waitFor(
        "CallBackImpl --> scanQrCodePay() -->" + gbk(replyFor("/api/qr/order/receive.do")) + "\n",
        5s));
    EXPECT_NE(out.text().find("client interface impl scanQrCodePay() parkCode:PK\n"
                              "client interface impl scanQrCodePay() sysCode:SY\n"
                              "client interface impl scanQrCodePay() channel:CH\n"
                              "client interface impl scanQrCodePay() scanNumber:SCAN0001\n"
                              "client interface impl scanQrCodePay() tempCar:7\n"),
              std::string::npos);

    // qrCodeEntry and payNotice are only logged.
    const size_t before = server.requestCount();
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"qrCodeEntry\",\"parkCode\":\"PK\",\"sysCode\":\"SY\","
               "\"channel\":\"CH\",\"carNumber\":\"ABC1234\",\"scanNumber\":\"SCAN0003\"}"));
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"payNotice\",\"orderId\":\"ORD00001\",\"carNumber\":\"ABC1234\","
               "\"payStatus\":0,\"payAmount\":300}"));
    ASSERT_TRUE(publisher.publish(
        topic, "{\"command\":\"payNotice\",\"orderId\":\"ORD00001\",\"payStatus\":-2}"));
    EXPECT_TRUE(out.waitFor("client interface impl noticeOfPaymentResult() pay success!\n", 5s));
    const std::string text = out.text();
    EXPECT_NE(text.find("client interface impl scanQrEntry() \n"
                        "client interface impl scanQrEntry() parkCode --> PK\n"
                        "client interface impl scanQrEntry() sysCode --> SY\n"
                        "client interface impl scanQrEntry() channel --> CH\n"
                        "client interface impl scanQrEntry() carNumber --> ABC1234\n"
                        "client interface impl scanQrEntry() scanNumber --> SCAN0003\n"),
              std::string::npos);
    EXPECT_NE(text.find("client interface impl noticeOfPaymentResult() \n"
                        "client interface impl noticeOfPaymentResult() pay error!\n"),
              std::string::npos);
    EXPECT_EQ(server.requestCount(), before);
    // The library's default lines never appear for the demo's object.
    EXPECT_EQ(text.find("sdk dll command interface impl"), std::string::npos);
}
