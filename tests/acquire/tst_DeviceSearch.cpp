// The list of scanners read on a worker thread: the interface goes on while SANE searches,
// the next scan finds the list ready, and the selection dialog shows it when it comes.
#include "tst_acquire.h"

#include "DialogDriver.h"
#include "tests/support/FakeSane.h"
#include "acquire/SaneSourceManager.h"
#include "acquire/SourceSelectDialog.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestDeviceSearch : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    static FakeSane::Device usb(const char* name) {
        FakeSane::Device d;
        d.name = name;
        return d;
    }

  private Q_SLOTS:
    void listReadyForTheNextScan() {
        FakeSane sane;
        sane.devices = {usb("fake:usb:001")};
        sane.holdListing();
        SaneSourceManager manager(sane);
        manager.setSettingsFile(dir.filePath(QStringLiteral("a.ini")));
        manager.findDevices();
        QTRY_COMPARE(sane.listings.load(), 1); // SANE is searching, on its own thread
        bool interfaceRan = false;
        QTimer::singleShot(0, [&] { interfaceRan = true; });
        QTRY_VERIFY(interfaceRan);
        sane.releaseListing();

        ManagerSession s(manager);
        QCOMPARE(s.openManager(), TWRC_SUCCESS);
        QCOMPARE(s.openSource(), TWRC_SUCCESS);
        QCOMPARE(manager.openDevice(), QByteArray("fake:usb:001"));
        QCOMPARE(sane.listings.load(), 1); // the open used the list found before
        QCOMPARE(s.closeSource(), TWRC_SUCCESS);
        QCOMPARE(s.closeManager(), TWRC_SUCCESS);
        QCOMPARE(sane.initDepth(), 0);
    }

    void selectionDialogShowsTheListWhenItComes() {
        FakeSane sane;
        sane.devices = {usb("fake:usb:001"), usb("fake:usb:002")};
        sane.devices[1].model = "Flat 2";
        SaneSourceManager manager(sane);
        manager.setSettingsFile(dir.filePath(QStringLiteral("b.ini")));
        sane.holdListing();
        manager.findDevices();
        QTRY_COMPARE(sane.listings.load(), 1);

        QStringList captions;
        int rowsWhileSearching = -1;
        DialogDriver driver;
        driver.whenShown<SourceSelectDialog>([&](SourceSelectDialog* d) {
            auto* caption = d->findChild<QLabel*>(QStringLiteral("caption"));
            auto* list = d->findChild<QListWidget*>(QStringLiteral("devices"));
            captions << caption->text();
            rowsWhileSearching = list->count();
            sane.releaseListing();
            QTRY_COMPARE(list->count(), 2);
            captions << caption->text();
            list->setCurrentRow(1);
            d->findChild<QPushButton*>(QStringLiteral("select"))->click();
        });
        ManagerSession s(manager);
        QCOMPARE(s.openManager(), TWRC_SUCCESS);
        QCOMPARE(s.call(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &s.source, false), TWRC_SUCCESS);
        QCOMPARE(driver.shown, 1);
        QCOMPARE(rowsWhileSearching, 0);
        QCOMPARE(captions, (QStringList{QStringLiteral("Ricerca degli scanner in corso..."),
                                        QStringLiteral("Scanner disponibili:")}));
        QCOMPARE(QLatin1String(s.source.ProductName), QLatin1String("Flat 2"));
        QCOMPARE(s.closeManager(), TWRC_SUCCESS);
    }
};

REGISTER_ACQUIRE_TEST(TestDeviceSearch)

#include "tst_DeviceSearch.moc"
