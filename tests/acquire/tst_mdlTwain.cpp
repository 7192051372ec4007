#include "tst_acquire.h"

#include "FakeDsm.h"
#include "acquire/Dib.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

using Seq = QStringList;

const QString kOpen[] = {QStringLiteral("OPENDSM PARENT"), QStringLiteral("OPENDS IDENTITY")};

QStringList closing() {
    return {QStringLiteral("CLOSEDS IDENTITY"), QStringLiteral("CLOSEDSM PARENT")};
}

QStringList fixedSetup(bool withDepth) {
    QStringList s{QStringLiteral("SET IMAGELAYOUT"), QStringLiteral("SET CAPABILITY 1118"),
                  QStringLiteral("SET CAPABILITY 1119"), QStringLiteral("SET CAPABILITY 0101")};
    if (withDepth)
        s << QStringLiteral("SET CAPABILITY 112b");
    s << QStringLiteral("SET CAPABILITY 0001");
    return s;
}

QStringList transferSteps() {
    return {QStringLiteral("ENABLEDS USERINTERFACE"), QStringLiteral("PROCESSEVENT EVENT"),
            QStringLiteral("GET IMAGENATIVEXFER"), QStringLiteral("ENDXFER PENDINGXFERS"),
            QStringLiteral("DISABLEDS USERINTERFACE")};
}

float fix(TW_FIX32 f) {
    return mdlTwain::Fix32ToFloat(f);
}

} // namespace

class TestMdlTwain : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeDsm> dsm;
    std::unique_ptr<QTemporaryDir> dir;
    std::size_t handlesBefore = 0;

    QString path() const { return dir->filePath(QStringLiteral("page.bmp")); }

    std::int32_t scanFixed(std::int32_t pixelType = 2, float right = 8, float bottom = 8, float dpi = 300) {
        return mdlTwain::ScanToFile(dpi, pixelType, 0, 0, right, bottom, path());
    }

  private Q_SLOTS:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        dsm = std::make_unique<FakeDsm>();
        dsm->dib = makeDib(30, 20, 24);
        dsm->notifyAfterEnable(MSG_XFERREADY);
        mdlTwain::setDsmEntry(dsm->function());
        handlesBefore = twainshim::liveHandleCount();
    }

    void cleanup() {
        mdlTwain::resetDsmEntry();
        // Manager closed, hidden window gone, every memory block released.
        QCOMPARE(twainshim::liveWindowCount(), std::size_t(0));
        QCOMPARE(twainshim::liveHandleCount(), handlesBefore);
        QVERIFY(!mdlTwain::IsBusy());
    }

    void fixedScanSendsTheSettingsAndWritesTheFile() {
        QCOMPARE(scanFixed(), 0);
        QCOMPARE(dsm->names(), Seq(kOpen[0]) << kOpen[1] << fixedSetup(true) << transferSteps() << closing());

        const TW_IDENTITY& app = dsm->calls.front().origin;
        QCOMPARE(QLatin1String(app.Manufacturer), QLatin1String("Dorn"));
        QCOMPARE(QLatin1String(app.ProductFamily), QLatin1String("VB Module"));
        QCOMPARE(QLatin1String(app.ProductName), QLatin1String("VB Module for TWAIN"));
        QCOMPARE(app.Version.MajorNum, 1);
        QCOMPARE(app.Version.Language, 45);
        QCOMPARE(app.Version.Country, 42);
        QCOMPARE(app.ProtocolMajor, 1);
        QCOMPARE(app.ProtocolMinor, 9);
        QCOMPARE(app.SupportedGroups, TW_UINT32(3));
        // The source identity is empty so that the manager opens its default source.
        const TW_IDENTITY& source = dsm->find(DAT_IDENTITY, MSG_OPENDS)->identity;
        const TW_IDENTITY zero{};
        QVERIFY(std::memcmp(&source, &zero, sizeof zero) == 0);

        const auto* res = dsm->find(DAT_CAPABILITY, MSG_SET, ICAP_XRESOLUTION);
        QCOMPARE(res->conType, TWON_ONEVALUE);
        QCOMPARE(res->value.ItemType, TWTY_FIX32);
        QCOMPARE(res->value.Item, TW_UINT32(300));
        const auto* type = dsm->find(DAT_CAPABILITY, MSG_SET, ICAP_PIXELTYPE);
        QCOMPARE(type->value.ItemType, TWTY_UINT16);
        QCOMPARE(type->value.Item, TW_UINT32(2));
        const auto* depth = dsm->find(DAT_CAPABILITY, MSG_SET, ICAP_BITDEPTH);
        QCOMPARE(depth->value.Item, TW_UINT32(24));
        const auto* count = dsm->find(DAT_CAPABILITY, MSG_SET, CAP_XFERCOUNT);
        QCOMPARE(count->value.ItemType, TWTY_INT16);
        QCOMPARE(count->value.Item, TW_UINT32(1));
        const auto* layout = dsm->find(DAT_IMAGELAYOUT, MSG_SET);
        QCOMPARE(fix(layout->frame.Right), 8.0f);
        QCOMPARE(fix(layout->frame.Bottom), 8.0f);
        const auto* ui = dsm->find(DAT_USERINTERFACE, MSG_ENABLEDS);
        QCOMPARE(ui->ui.ShowUI, 0);
        QCOMPARE(ui->ui.ModalUI, 1);
        QVERIFY(ui->ui.hParent != nullptr);

        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), qsizetype(14 + dsm->dib.size()));
        QCOMPARE(bytes.left(2), QByteArray("BM"));
        QVERIFY(std::memcmp(bytes.constData() + 14, dsm->dib.data(), dsm->dib.size()) == 0);
        QCOMPARE(QImage(path()).size(), QSize(30, 20));
    }

    void physicalSizeReplacesBothEdges_data() {
        QTest::addColumn<float>("right");
        QTest::addColumn<float>("bottom");
        QTest::addColumn<bool>("asked");
        QTest::newRow("bottom 0") << 8.0f << 0.0f << true;
        QTest::newRow("right 0") << 0.0f << 8.0f << true;
        QTest::newRow("both 0") << 0.0f << 0.0f << true;
        QTest::newRow("neither") << 8.0f << 8.0f << false;
    }
    void physicalSizeReplacesBothEdges() {
        QFETCH(float, right);
        QFETCH(float, bottom);
        QFETCH(bool, asked);
        dsm->values[ICAP_PHYSICALWIDTH] = {TWTY_FIX32, 8u | (32768u << 16)}; // 8.5
        dsm->values[ICAP_PHYSICALHEIGHT] = {TWTY_FIX32, 11u | (45875u << 16)};
        QCOMPARE(scanFixed(2, right, bottom), 0);
        QCOMPARE(dsm->find(DAT_CAPABILITY, MSG_GET, ICAP_PHYSICALWIDTH) != nullptr, asked);
        QCOMPARE(dsm->find(DAT_CAPABILITY, MSG_GET, ICAP_PHYSICALHEIGHT) != nullptr, asked);
        const auto* layout = dsm->find(DAT_IMAGELAYOUT, MSG_SET);
        QCOMPARE(fix(layout->frame.Right), asked ? 8.5f : 8.0f);
        QCOMPARE(fix(layout->frame.Bottom), asked ? fix(TW_FIX32{11, 45875}) : 8.0f);
        if (asked) // the reads come before the frame
            QCOMPARE(dsm->names().indexOf(QStringLiteral("GET CAPABILITY 1112")) + 1,
                     dsm->names().indexOf(QStringLiteral("SET IMAGELAYOUT")));
    }

    void physicalSizeUnreadableFails() {
        dsm->answer(DG_CONTROL, DAT_CAPABILITY, MSG_GET, TWRC_FAILURE, ICAP_PHYSICALHEIGHT);
        QCOMPARE(scanFixed(2, 8, 0), 1);
        QVERIFY(!dsm->find(DAT_IMAGELAYOUT, MSG_SET));
        QCOMPARE(dsm->names().mid(dsm->names().size() - 2), closing());
    }

    void bitDepthOnlyForRgbAndNeverFatal_data() {
        QTest::addColumn<int>("pixelType");
        QTest::addColumn<TW_UINT16>("depthAnswer");
        QTest::addColumn<bool>("depthSent");
        QTest::newRow("rgb") << 2 << TWRC_SUCCESS << true;
        QTest::newRow("rgb, depth refused") << 2 << TWRC_FAILURE << true;
        QTest::newRow("grey") << 1 << TWRC_SUCCESS << false;
        QTest::newRow("cmy") << 4 << TWRC_SUCCESS << false;
    }
    void bitDepthOnlyForRgbAndNeverFatal() {
        QFETCH(int, pixelType);
        QFETCH(TW_UINT16, depthAnswer);
        QFETCH(bool, depthSent);
        dsm->answer(DG_CONTROL, DAT_CAPABILITY, MSG_SET, depthAnswer, ICAP_BITDEPTH);
        QCOMPARE(scanFixed(pixelType), 0);
        QCOMPARE(dsm->names(), Seq(kOpen[0])
                                   << kOpen[1] << fixedSetup(depthSent) << transferSteps() << closing());
        QCOMPARE(dsm->find(DAT_CAPABILITY, MSG_SET, ICAP_PIXELTYPE)->value.Item, TW_UINT32(pixelType));
    }

    void refusedStepClosesTheSession_data() {
        QTest::addColumn<TW_UINT32>("dg");
        QTest::addColumn<TW_UINT16>("dat");
        QTest::addColumn<TW_UINT16>("msg");
        QTest::addColumn<TW_UINT16>("cap");
        QTest::addColumn<TW_UINT16>("rc");
        QTest::addColumn<int>("expected");
        QTest::newRow("source") << DG_CONTROL << DAT_IDENTITY << MSG_OPENDS << TW_UINT16(0) << TWRC_FAILURE
                                << 1;
        QTest::newRow("frame") << DG_IMAGE << DAT_IMAGELAYOUT << MSG_SET << TW_UINT16(0) << TWRC_FAILURE << 1;
        QTest::newRow("frame adjusted")
            << DG_IMAGE << DAT_IMAGELAYOUT << MSG_SET << TW_UINT16(0) << TWRC_CHECKSTATUS << 0;
        QTest::newRow("x resolution")
            << DG_CONTROL << DAT_CAPABILITY << MSG_SET << ICAP_XRESOLUTION << TWRC_FAILURE << 1;
        QTest::newRow("y resolution adjusted")
            << DG_CONTROL << DAT_CAPABILITY << MSG_SET << ICAP_YRESOLUTION << TWRC_CHECKSTATUS << 1;
        QTest::newRow("pixel type") << DG_CONTROL << DAT_CAPABILITY << MSG_SET << ICAP_PIXELTYPE
                                    << TWRC_FAILURE << 1;
        QTest::newRow("transfer count")
            << DG_CONTROL << DAT_CAPABILITY << MSG_SET << CAP_XFERCOUNT << TWRC_FAILURE << 1;
        QTest::newRow("enable") << DG_CONTROL << DAT_USERINTERFACE << MSG_ENABLEDS << TW_UINT16(0)
                                << TWRC_FAILURE << 1;
        QTest::newRow("source close fails")
            << DG_CONTROL << DAT_IDENTITY << MSG_CLOSEDS << TW_UINT16(0) << TWRC_FAILURE << 0;
    }
    void refusedStepClosesTheSession() {
        QFETCH(TW_UINT32, dg);
        QFETCH(TW_UINT16, dat);
        QFETCH(TW_UINT16, msg);
        QFETCH(TW_UINT16, cap);
        QFETCH(TW_UINT16, rc);
        QFETCH(int, expected);
        dsm->answer(dg, dat, msg, rc, cap);
        QCOMPARE(scanFixed(), expected);
        QCOMPARE(dsm->names().mid(dsm->names().size() - 2), closing());
        QCOMPARE(dsm->find(DAT_IMAGENATIVEXFER, MSG_GET) != nullptr, expected == 0);
        QCOMPARE(QFileInfo(path()).size() > 0, expected == 0);
    }

    void badValuesSendNothing_data() {
        QTest::addColumn<int>("pixelType");
        QTest::addColumn<float>("dpi");
        QTest::addColumn<TW_UINT16>("unsent");
        QTest::newRow("uint16 over 65535") << 65536 << 300.0f << ICAP_PIXELTYPE;
        QTest::newRow("uint16 negative") << -1 << 300.0f << ICAP_PIXELTYPE;
        QTest::newRow("fix32 over 32767") << 2 << 40000.0f << ICAP_XRESOLUTION;
    }
    void badValuesSendNothing() {
        QFETCH(int, pixelType);
        QFETCH(float, dpi);
        QFETCH(TW_UINT16, unsent);
        QCOMPARE(scanFixed(pixelType, 8, 8, dpi), 1);
        QVERIFY(!dsm->find(DAT_CAPABILITY, MSG_SET, unsent));
        QVERIFY(!dsm->find(DAT_USERINTERFACE, MSG_ENABLEDS));
        QCOMPARE(dsm->names().mid(dsm->names().size() - 2), closing());
    }

    void closeRequestEndsWithoutImage() {
        dsm->afterEnable.clear();
        dsm->notifyAfterEnable(MSG_CLOSEDSREQ);
        QCOMPARE(mdlTwain::ScanToFileWithDialog(path()), 1);
        QCOMPARE(dsm->names(), Seq(kOpen[0]) << kOpen[1] << QStringLiteral("ENABLEDS USERINTERFACE")
                                             << QStringLiteral("PROCESSEVENT EVENT")
                                             << QStringLiteral("DISABLEDS USERINTERFACE") << closing());
        QCOMPARE(dsm->find(DAT_USERINTERFACE, MSG_ENABLEDS)->ui.ShowUI, 1);
        QVERIFY(!QFile::exists(path()));
    }

    void failedTransferEndsAndDisables_data() {
        QTest::addColumn<TW_UINT16>("transfer");
        QTest::addColumn<TW_UINT16>("endTransfer");
        QTest::addColumn<TW_UINT16>("disable");
        QTest::newRow("transfer failed") << TWRC_FAILURE << TWRC_SUCCESS << TWRC_SUCCESS;
        QTest::newRow("transfer cancelled") << TWRC_CANCEL << TWRC_SUCCESS << TWRC_SUCCESS;
        QTest::newRow("end of transfer refused") << TWRC_XFERDONE << TWRC_FAILURE << TWRC_SUCCESS;
        QTest::newRow("disable refused") << TWRC_XFERDONE << TWRC_SUCCESS << TWRC_FAILURE;
    }
    void failedTransferEndsAndDisables() {
        QFETCH(TW_UINT16, transfer);
        QFETCH(TW_UINT16, endTransfer);
        QFETCH(TW_UINT16, disable);
        dsm->answer(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, transfer);
        dsm->answer(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, endTransfer);
        dsm->answer(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, disable);
        QCOMPARE(mdlTwain::ScanToFileWithDialog(path()), 1);
        QCOMPARE(dsm->names(), Seq(kOpen[0]) << kOpen[1] << transferSteps() << closing());
        QVERIFY(!QFile::exists(path()));
    }

    void managerMissingOrClosed_data() {
        QTest::addColumn<bool>("library");
        QTest::newRow("manager refuses") << true;
        QTest::newRow("no manager library") << false;
    }
    void managerMissingOrClosed() {
        QFETCH(bool, library);
        if (library)
            dsm->answer(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, TWRC_FAILURE);
        else
            mdlTwain::setDsmEntry({});
        QCOMPARE(scanFixed(), 1);
        QCOMPARE(mdlTwain::ScanToFileWithDialog(path()), 1);
        QCOMPARE(mdlTwain::SelectSource(), 1);
        // Nothing to close when the manager never opened.
        QCOMPARE(dsm->names(), library ? Seq(3, QStringLiteral("OPENDSM PARENT")) : Seq());
    }

    void selectSource_data() {
        QTest::addColumn<TW_UINT16>("select");
        QTest::addColumn<TW_UINT16>("close");
        QTest::addColumn<int>("expected");
        QTest::newRow("chosen") << TWRC_SUCCESS << TWRC_SUCCESS << 0;
        QTest::newRow("cancelled") << TWRC_CANCEL << TWRC_SUCCESS << 1;
        QTest::newRow("close refused") << TWRC_SUCCESS << TWRC_FAILURE << 1;
    }
    void selectSource() {
        QFETCH(TW_UINT16, select);
        QFETCH(TW_UINT16, close);
        QFETCH(int, expected);
        dsm->answer(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, select);
        dsm->answer(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, close);
        QCOMPARE(mdlTwain::SelectSource(), expected);
        QCOMPARE(dsm->names(), Seq() << QStringLiteral("OPENDSM PARENT")
                                     << QStringLiteral("USERSELECT IDENTITY")
                                     << QStringLiteral("CLOSEDSM PARENT"));
        QVERIFY(!dsm->calls[1].toSource);
    }

    void loopDispatchesOnlyForeignMessagesAndRefusesNesting() {
        // Before the notification: one message the source claims and one it does not.
        dsm->afterEnable.clear();
        dsm->afterEnable.push_back({nullptr, FakeDsm::kOwnMessage, 0, 0});
        dsm->afterEnable.push_back({nullptr, FakeDsm::kOwnMessage + 1, 0, 0});
        dsm->notifyAfterEnable(MSG_XFERREADY);
        QList<std::uint32_t> dispatched;
        int nested = -1;
        dsm->onCall = [&](const FakeDsm::Call& call) {
            if (call.msg == MSG_ENABLEDS) {
                twainshim::SetWindowProc(call.ui.hParent, [&](const twainshim::MSG& m) {
                    dispatched.append(m.message);
                    // Another operation started from a handler inside the loop.
                    const auto before = dsm->calls.size();
                    nested = mdlTwain::SelectSource() + mdlTwain::ScanToFileWithDialog(path());
                    QCOMPARE(dsm->calls.size(), before);
                });
            }
        };
        QCOMPARE(scanFixed(), 0);
        QCOMPARE(dispatched, QList<std::uint32_t>{FakeDsm::kOwnMessage + 1});
        QCOMPARE(nested, 2);
        QCOMPARE(dsm->names().count(QStringLiteral("PROCESSEVENT EVENT")), 3);
    }

    void emptyPathScansAndDiscards() {
        QCOMPARE(mdlTwain::ScanToFile(300, 2, 0, 0, 8, 8, QString()), 1);
        QVERIFY(dsm->find(DAT_IMAGENATIVEXFER, MSG_GET));
        QCOMPARE(dsm->names().mid(dsm->names().size() - 2), closing());
    }

    void fix32Conversions_data() {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("whole");
        QTest::addColumn<int>("frac");
        QTest::newRow("300") << 300.0f << 300 << 0;
        QTest::newRow("8.5") << 8.5f << 8 << 32768;
        QTest::newRow("0.1") << 0.1f << 0 << 6554;
        QTest::newRow("fraction carries") << 7.9999995f << 8 << 0;
        QTest::newRow("largest") << 32767.0f << 32767 << 0;
        // Past the largest whole part: no value at all (whole -1).
        QTest::newRow("one past the largest") << 32768.0f << -1 << 0;
        QTest::newRow("far past") << 1e30f << -1 << 0;
        QTest::newRow("not a number") << std::nanf("") << -1 << 0;
    }
    void fix32Conversions() {
        QFETCH(float, value);
        QFETCH(int, whole);
        QFETCH(int, frac);
        const auto fix = mdlTwain::FloatToFix32(value);
        QCOMPARE(bool(fix), whole >= 0);
        if (!fix)
            return;
        QCOMPARE(int(fix->Whole), whole);
        QCOMPARE(int(fix->Frac), frac);
        QVERIFY(std::fabs(mdlTwain::Fix32ToFloat(*fix) - value) < 1.0f / 65536);
    }
};

REGISTER_ACQUIRE_TEST(TestMdlTwain)

#include "tst_mdlTwain.moc"
