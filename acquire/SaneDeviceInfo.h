#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A scanner as SANE lists it.
struct SaneDeviceInfo {
    QByteArray name; // what sane_open takes, e.g. "genesys:libusb:001:005"
    QString vendor;
    QString model;
    QString type;

    // What the operator sees: vendor and model.
    QString label() const { return vendor.isEmpty() ? model : vendor + QLatin1Char(' ') + model; }

    // A name that survives unplugging and replugging: the backend, vendor and model,
    // without the bus and address that USB device names carry.
    QString stableKey() const {
        const QByteArray backend = name.left(name.indexOf(':'));
        return QString::fromUtf8(backend) + QLatin1Char('|') + vendor + QLatin1Char('|') + model;
    }
};

// The labels the dialogs list, one per device. Two scanners of the same make and model
// would read alike, so each of those also shows SANE's device name.
template <typename Devices> QStringList deviceLabels(const Devices& devices) {
    QStringList labels;
    for (const SaneDeviceInfo& device : devices)
        labels << device.label();
    QStringList shown;
    for (qsizetype i = 0; i < labels.size(); ++i) {
        const auto& device = devices[static_cast<std::size_t>(i)];
        shown << (labels.count(labels.at(i)) > 1 ? labels.at(i) + QStringLiteral(" (") +
                                                       QString::fromUtf8(device.name) + QLatin1Char(')')
                                                 : labels.at(i));
    }
    return shown;
}
