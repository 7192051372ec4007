#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

// The test classes of this folder, run one after the other by main().
std::vector<std::function<std::unique_ptr<QObject>()>>& acquireTests();

struct RegisterAcquireTest {
    explicit RegisterAcquireTest(std::function<std::unique_ptr<QObject>()> make) {
        acquireTests().push_back(std::move(make));
    }
};

#define REGISTER_ACQUIRE_TEST(Class)                                                                         \
    static const RegisterAcquireTest register##Class([] { return std::unique_ptr<QObject>(new Class); });
