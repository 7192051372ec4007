#include "tst_acquire.h"

#include "acquire/SaneDeviceInfo.h"

#include <QtTest>
#include <vector>

class TestDeviceLabels : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void labels_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("models");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("distinct") << QStringList{QStringLiteral("a:1"), QStringLiteral("b:2")}
                                  << QStringList{QStringLiteral("One"), QStringLiteral("Two")}
                                  << QStringList{QStringLiteral("Acme One"), QStringLiteral("Acme Two")};
        QTest::newRow("same make and model")
            << QStringList{QStringLiteral("test:0"), QStringLiteral("test:1"), QStringLiteral("x:9")}
            << QStringList{QStringLiteral("Tester"), QStringLiteral("Tester"), QStringLiteral("Other")}
            << QStringList{QStringLiteral("Acme Tester (test:0)"), QStringLiteral("Acme Tester (test:1)"),
                           QStringLiteral("Acme Other")};
    }
    void labels() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, models);
        QFETCH(QStringList, expected);
        std::vector<SaneDeviceInfo> devices;
        for (qsizetype i = 0; i < names.size(); ++i)
            devices.push_back(
                {names.at(i).toUtf8(), QStringLiteral("Acme"), models.at(i), QStringLiteral("flatbed")});
        QCOMPARE(deviceLabels(devices), expected);
    }
};

REGISTER_ACQUIRE_TEST(TestDeviceLabels)

#include "tst_DeviceLabels.moc"
