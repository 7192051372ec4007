#include <QApplication>
#include <QMetaMethod>
#include <QtTest>

QObject* makeRulesTest();
QObject* makeNetworkTest();

namespace {

// Test functions named on the command line that this object has; with none named, all run.
bool wanted(const QObject& test, const QStringList& names) {
    if (names.isEmpty())
        return true;
    const QMetaObject* meta = test.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QString method = QString::fromLatin1(meta->method(i).name());
        for (const QString& name : names) {
            if (name.section(QLatin1Char(':'), 0, 0).section(QLatin1Char('('), 0, 0) == method)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList names;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.startsWith(QLatin1Char('-'))) {
            if (arg == QLatin1String("-o") || arg == QLatin1String("-maxwarnings") ||
                arg == QLatin1String("-eventdelay") || arg == QLatin1String("-keydelay") ||
                arg == QLatin1String("-mousedelay"))
                ++i; // the option's value
            continue;
        }
        names << arg;
    }
    int failures = 0;
    for (QObject* (*make)() : {makeRulesTest, makeNetworkTest}) {
        const std::unique_ptr<QObject> test(make());
        if (wanted(*test, names))
            failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
