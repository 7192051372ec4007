#pragma once

#include <QByteArray>
#include <QString>

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
