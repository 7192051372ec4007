#include "tst_acquire.h"

#include <QApplication>
#include <QtTest>

std::vector<std::function<std::unique_ptr<QObject>()>>& acquireTests() {
    static std::vector<std::function<std::unique_ptr<QObject>()>> tests;
    return tests;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = 0;
    for (const auto& make : acquireTests()) {
        const std::unique_ptr<QObject> test = make();
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures;
}

// The SANE test backend stops its reader thread abruptly when a scan is cancelled, and the
// reader's line buffer is then lost inside the backend. Those allocations belong to the
// backend alone; our own allocations are never listed here.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libsane-test.so\n";
}
