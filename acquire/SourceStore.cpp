#include "acquire/SourceStore.h"

#include "env/Settings.h"

#include <QSettings>

namespace {

const QString kDefaultNameKey = QStringLiteral("Scanner/DefaultSource");
const QString kDefaultStableKey = QStringLiteral("Scanner/DefaultSourceKey");

} // namespace

DeviceReach deviceReach(const SaneDeviceInfo& device) {
    const QString name = QString::fromUtf8(device.name).toLower();
    const QString backend = name.section(QLatin1Char(':'), 0, 0);
    const QString type = device.type.toLower();

    // Cameras and frame grabbers list themselves as scanners too.
    static const QStringList videoBackends{
        QStringLiteral("v4l"),  QStringLiteral("v4l2"),  QStringLiteral("gphoto2"),
        QStringLiteral("dc25"), QStringLiteral("dc210"), QStringLiteral("dc240"),
        QStringLiteral("dmc"),  QStringLiteral("qcam"),  QStringLiteral("stv680")};
    if (videoBackends.contains(backend) || type.contains(QLatin1String("video")) ||
        type.contains(QLatin1String("camera")) || type.contains(QLatin1String("webcam")))
        return DeviceReach::Video;

    static const QStringList networkBackends{QStringLiteral("net"), QStringLiteral("escl"),
                                             QStringLiteral("airscan")};
    if (networkBackends.contains(backend))
        return DeviceReach::Network;
    // Backends that reach both USB and network devices say which in the rest of the name:
    // "epson2:net:192.168.1.5", "hpaio:/net/officejet?ip=10.0.0.7", "pixma:bjnp://...".
    const QString rest = name.section(QLatin1Char(':'), 1);
    if (rest.startsWith(QLatin1String("net:")) || rest.startsWith(QLatin1String("tcp")) ||
        rest.contains(QLatin1String("/net/")) || rest.contains(QLatin1String("?ip=")) ||
        rest.contains(QLatin1String("://")) || type.contains(QLatin1String("network")))
        return DeviceReach::Network;
    return DeviceReach::Local;
}

int SourceStore::firstChoice(const std::vector<SaneDeviceInfo>& devices) {
    for (DeviceReach wanted : {DeviceReach::Local, DeviceReach::Network}) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (deviceReach(devices[i]) == wanted)
                return static_cast<int>(i);
        }
    }
    return -1;
}

int SourceStore::defaultDevice(const std::vector<SaneDeviceInfo>& list) const {
    const auto settings = Settings::open(m_settingsFile);
    const QByteArray name = settings ? settings->value(kDefaultNameKey).toString().toUtf8() : QByteArray();
    const QString key = settings ? settings->value(kDefaultStableKey).toString() : QString();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!name.isEmpty() && list[i].name == name)
            return static_cast<int>(i);
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!key.isEmpty() && list[i].stableKey() == key)
            return static_cast<int>(i);
    }
    return firstChoice(list);
}

void SourceStore::remember(const SaneDeviceInfo& device) {
    const auto settings = Settings::open(m_settingsFile);
    if (!settings)
        return;
    settings->setValue(kDefaultNameKey, QString::fromUtf8(device.name));
    settings->setValue(kDefaultStableKey, device.stableKey());
    settings->sync();
}
