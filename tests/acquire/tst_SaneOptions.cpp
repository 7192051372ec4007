// The rules between TWAIN and a SANE device that need no scan: which mode gives a pixel type,
// what the bed measures in inches, which scanner is the default.
#include "tst_acquire.h"

#include "acquire/SaneDeviceInfo.h"
#include "acquire/SaneOptionMap.h"
#include "acquire/SaneSourceManager.h"
#include "acquire/SourceStore.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "tests/support/FakeSane.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(DeviceReach)
Q_DECLARE_METATYPE(std::vector<SaneDeviceInfo>)

namespace {

TW_ONEVALUE uint16(TW_UINT16 value) {
    return TW_ONEVALUE{TWTY_UINT16, value};
}

TW_ONEVALUE fix32(float value) {
    return TW_ONEVALUE{TWTY_FIX32, packFix32(*mdlTwain::FloatToFix32(value))};
}

SaneDeviceInfo device(const char* name, const char* type = "flatbed scanner") {
    return SaneDeviceInfo{QByteArray(name), QStringLiteral("Acme"), QString::fromLatin1(name),
                          QString::fromLatin1(type)};
}

} // namespace

class TestSaneOptions : public QObject {
    Q_OBJECT

    struct Open {
        FakeSane sane;
        SaneDevice device{sane};
        SaneOptionMap map{device};
        explicit Open(const FakeSane::Device& d) {
            sane.devices = {d};
            sane.init(nullptr);
            device.open(d.name);
        }
        ~Open() {
            device.close();
            sane.exit();
        }
    };

  private Q_SLOTS:
    // Each backend names its modes its own way; the pixel type asked for picks the mode.
    void pixelTypeToMode_data() {
        QTest::addColumn<QStringList>("modes");
        QTest::addColumn<bool>("depthOption");
        QTest::addColumn<int>("pixelType");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("mode"); // the mode set afterwards
        QTest::addColumn<int>("current");  // the pixel type read back
        const QStringList common{QStringLiteral("Color"), QStringLiteral("Gray"), QStringLiteral("Lineart")};
        const QStringList other{QStringLiteral("Binary"), QStringLiteral("Gray"),
                                QStringLiteral("24bit Color")};
        const QStringList noLineart{QStringLiteral("Color"), QStringLiteral("Gray")};
        QTest::newRow("colour") << common << true << int(TWPT_RGB) << int(TWRC_SUCCESS) << "Color"
                                << int(TWPT_RGB);
        QTest::newRow("grey") << common << true << int(TWPT_GRAY) << int(TWRC_SUCCESS) << "Gray"
                              << int(TWPT_GRAY);
        QTest::newRow("line art") << common << true << int(TWPT_BW) << int(TWRC_SUCCESS) << "Lineart"
                                  << int(TWPT_BW);
        QTest::newRow("binary and 24bit names, colour")
            << other << true << int(TWPT_RGB) << int(TWRC_SUCCESS) << "24bit Color" << int(TWPT_RGB);
        QTest::newRow("binary and 24bit names, black and white")
            << other << true << int(TWPT_BW) << int(TWRC_SUCCESS) << "Binary" << int(TWPT_BW);
        QTest::newRow("no line art: grey at one bit")
            << noLineart << true << int(TWPT_BW) << int(TWRC_SUCCESS) << "Gray" << int(TWPT_BW);
        QTest::newRow("no line art and no depth: refused")
            << noLineart << false << int(TWPT_BW) << int(TWRC_FAILURE) << "Color" << int(TWPT_RGB);
        QTest::newRow("cmy is not offered")
            << common << true << int(TWPT_CMY) << int(TWRC_FAILURE) << "Color" << int(TWPT_RGB);
    }
    void pixelTypeToMode() {
        QFETCH(QStringList, modes);
        QFETCH(bool, depthOption);
        QFETCH(int, pixelType);
        FakeSane::Device d;
        d.modes = modes;
        d.depthOption = depthOption;
        if (modes.contains(QStringLiteral("24bit Color")))
            d.modes.move(2, 0); // start in colour, as the other rows do
        Open open(d);
        const SaneOptionMap::Answer answer = open.map.set(ICAP_PIXELTYPE, uint16(TW_UINT16(pixelType)));
        QTEST(int(answer.rc), "rc");
        QCOMPARE(answer.rc == TWRC_FAILURE, answer.condition == TWCC_BADVALUE);
        QTEST(open.device.text("mode").value_or(QString()), "mode");
        QTEST(int(open.map.currentPixelType()), "current");
    }

    // The bed in inches, whether the backend measures in millimetres or in pixels, and a
    // resolution beyond the device's range answered as adjusted.
    void bedAndResolution_data() {
        QTest::addColumn<int>("unit");
        QTest::newRow("millimetres") << int(SANE_UNIT_MM);
        QTest::newRow("pixels") << int(SANE_UNIT_PIXEL);
    }
    void bedAndResolution() {
        QFETCH(int, unit);
        FakeSane::Device d;
        d.geometryUnit = SANE_Unit(unit);
        d.bedWidthMm = 215.9;  // 8.5 inches
        d.bedHeightMm = 279.4; // 11 inches
        Open open(d);
        QCOMPARE(int(open.map.set(ICAP_XRESOLUTION, fix32(300)).rc), int(TWRC_SUCCESS));
        TW_ONEVALUE width{};
        TW_ONEVALUE height{};
        QCOMPARE(int(open.map.get(ICAP_PHYSICALWIDTH, width).rc), int(TWRC_SUCCESS));
        QCOMPARE(int(open.map.get(ICAP_PHYSICALHEIGHT, height).rc), int(TWRC_SUCCESS));
        QVERIFY(qAbs(mdlTwain::Fix32ToFloat(unpackFix32(width.Item)) - 8.5f) < 0.01f);
        QVERIFY(qAbs(mdlTwain::Fix32ToFloat(unpackFix32(height.Item)) - 11.0f) < 0.01f);

        // A frame of 2 x 3 inches comes back as it was set.
        TW_FRAME frame{};
        frame.Right = *mdlTwain::FloatToFix32(2);
        frame.Bottom = *mdlTwain::FloatToFix32(3);
        QCOMPARE(int(open.map.setLayout(frame).rc), int(TWRC_SUCCESS));
        TW_FRAME back{};
        QCOMPARE(int(open.map.getLayout(back).rc), int(TWRC_SUCCESS));
        QVERIFY(qAbs(mdlTwain::Fix32ToFloat(back.Right) - 2.0f) < 0.01f);
        QVERIFY(qAbs(mdlTwain::Fix32ToFloat(back.Bottom) - 3.0f) < 0.01f);

        // The device stops at 1200 dpi.
        QCOMPARE(int(open.map.set(ICAP_XRESOLUTION, fix32(2400)).rc), int(TWRC_CHECKSTATUS));
        QCOMPARE(open.map.resolution(), 1200.0);
    }

    void deviceReach_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<DeviceReach>("reach");
        const auto row = [](const char* tag, const char* name, const char* type, DeviceReach reach) {
            QTest::newRow(tag) << QByteArray(name) << QString::fromLatin1(type) << reach;
        };
        row("usb", "genesys:libusb:001:005", "flatbed scanner", DeviceReach::Local);
        row("usb through hpaio", "hpaio:/usb/Deskjet_3050?serial=CN12", "all-in-one", DeviceReach::Local);
        row("test backend", "test:0", "virtual device", DeviceReach::Local);
        row("webcam", "v4l:/dev/video0", "virtual device", DeviceReach::Video);
        row("camera by type", "gphoto2:usb:", "still camera", DeviceReach::Video);
        row("video by type", "other:0", "video camera", DeviceReach::Video);
        row("saned", "net:192.168.1.4:genesys:libusb:001:005", "flatbed scanner", DeviceReach::Network);
        row("escl", "escl:https://192.168.1.9:443", "flatbed scanner", DeviceReach::Network);
        row("epson over the network", "epson2:net:192.168.1.5", "flatbed scanner", DeviceReach::Network);
        row("hp over the network", "hpaio:/net/Officejet?ip=10.0.0.7", "all-in-one", DeviceReach::Network);
        row("pixma over bjnp", "pixma:bjnp://10.0.0.8", "multi-function peripheral", DeviceReach::Network);
    }
    void deviceReach() {
        QFETCH(QByteArray, name);
        QFETCH(QString, type);
        QTEST(::deviceReach(SaneDeviceInfo{name, QStringLiteral("Acme"), QStringLiteral("X"), type}),
              "reach");
    }

    void firstChoice_data() {
        QTest::addColumn<std::vector<SaneDeviceInfo>>("devices");
        QTest::addColumn<int>("chosen");
        const SaneDeviceInfo webcam = device("v4l:/dev/video0", "virtual device");
        const SaneDeviceInfo network = device("escl:http://10.0.0.3:80");
        const SaneDeviceInfo usb = device("genesys:libusb:001:005");
        const SaneDeviceInfo usb2 = device("plustek:libusb:001:006");
        QTest::newRow("local after a webcam and a network scanner")
            << std::vector<SaneDeviceInfo>{webcam, network, usb} << 2;
        QTest::newRow("first of two local") << std::vector<SaneDeviceInfo>{network, usb2, usb} << 1;
        QTest::newRow("network when nothing is local") << std::vector<SaneDeviceInfo>{webcam, network} << 1;
        QTest::newRow("never a webcam") << std::vector<SaneDeviceInfo>{webcam} << -1;
        QTest::newRow("nothing") << std::vector<SaneDeviceInfo>{} << -1;
    }
    void firstChoice() {
        QFETCH(std::vector<SaneDeviceInfo>, devices);
        QTEST(SourceStore::firstChoice(devices), "chosen");
    }

    // A scanner is shown by make and model; its device name is added only to tell apart
    // scanners alike.
    void labels() {
        const auto scanner = [](const char* name, const char* model) {
            return SaneDeviceInfo{QByteArray(name), QStringLiteral("Acme"), QString::fromLatin1(model),
                                  QStringLiteral("flatbed")};
        };
        const std::vector<SaneDeviceInfo> devices{scanner("test:0", "Tester"), scanner("test:1", "Tester"),
                                                  scanner("x:9", "Other")};
        QCOMPARE(deviceLabels(devices),
                 (QStringList{QStringLiteral("Acme Tester (test:0)"), QStringLiteral("Acme Tester (test:1)"),
                              QStringLiteral("Acme Other")}));
    }

    // With nothing remembered, the manager opens the local scanner, not the first listed.
    void managerOpensTheLocalScanner() {
        QTemporaryDir dir;
        FakeSane sane;
        FakeSane::Device webcam;
        webcam.name = "v4l:/dev/video0";
        webcam.type = "virtual device";
        FakeSane::Device network;
        network.name = "net:10.0.0.2:genesys:libusb:001:002";
        FakeSane::Device usb;
        usb.name = "genesys:libusb:001:005";
        sane.devices = {webcam, network, usb};
        SaneSourceManager manager(sane);
        manager.setSettingsFile(dir.filePath(QStringLiteral("vetra.ini")));
        ManagerSession s(manager);
        QCOMPARE(s.openManager(), TWRC_SUCCESS);
        QCOMPARE(s.openSource(), TWRC_SUCCESS);
        QCOMPARE(manager.openDevice(), usb.name);
        QCOMPARE(manager.state(), TwainState::SourceOpen);
        QCOMPARE(s.closeSource(), TWRC_SUCCESS);
        QCOMPARE(s.closeManager(), TWRC_SUCCESS);
        QCOMPARE(manager.state(), TwainState::ManagerLoaded);
    }
};

REGISTER_ACQUIRE_TEST(TestSaneOptions)

#include "tst_SaneOptions.moc"
