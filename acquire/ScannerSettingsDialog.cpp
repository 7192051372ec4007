#include "acquire/ScannerSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

enum Area { AreaA4, AreaEightInches, AreaWholeBed };

} // namespace

QString ScannerSettingsDialog::modeLabel(const QString& mode) {
    if (mode.compare(QLatin1String("Color"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Colore");
    if (mode.compare(QLatin1String("Gray"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Scala di grigi");
    if (mode.compare(QLatin1String("Lineart"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Bianco e nero");
    return mode;
}

ScannerSettingsDialog::ScannerSettingsDialog(const std::vector<SaneDeviceInfo>& devices, int current,
                                             Describe describe, QWidget* parent)
    : QDialog(parent), m_devices(devices), m_describe(std::move(describe)), m_device(new QComboBox(this)),
      m_mode(new QComboBox(this)), m_resolution(new QComboBox(this)), m_area(new QComboBox(this)),
      m_scan(nullptr) {
    setObjectName(QStringLiteral("ScannerSettingsDialog"));
    setWindowTitle(QStringLiteral("Impostazioni scanner"));
    m_device->setObjectName(QStringLiteral("device"));
    m_mode->setObjectName(QStringLiteral("mode"));
    m_resolution->setObjectName(QStringLiteral("resolution"));
    m_area->setObjectName(QStringLiteral("area"));

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Scanner:"), m_device);
    form->addRow(QStringLiteral("Modalità:"), m_mode);
    form->addRow(QStringLiteral("Risoluzione:"), m_resolution);
    form->addRow(QStringLiteral("Area:"), m_area);
    layout->addLayout(form);

    m_area->addItem(QStringLiteral("A4 (210 × 297 mm)"), AreaA4);
    m_area->addItem(QStringLiteral("8 × 8 pollici"), AreaEightInches);
    m_area->addItem(QStringLiteral("Intera area dello scanner"), AreaWholeBed);

    auto* buttons = new QDialogButtonBox(this);
    m_scan = buttons->addButton(QStringLiteral("Scansiona"), QDialogButtonBox::AcceptRole);
    m_scan->setObjectName(QStringLiteral("scan"));
    QPushButton* cancel = buttons->addButton(QStringLiteral("Annulla"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_device->addItems(deviceLabels(m_devices));
    if (current >= 0 && current < m_device->count())
        m_device->setCurrentIndex(current);
    showDevice(m_device->currentIndex());
    connect(m_device, &QComboBox::currentIndexChanged, this, &ScannerSettingsDialog::showDevice);
}

void ScannerSettingsDialog::showDevice(int index) {
    m_caps = ScannerCapabilities{};
    if (index >= 0 && index < static_cast<int>(m_devices.size()) && m_describe)
        m_caps = m_describe(m_devices[static_cast<std::size_t>(index)].name);

    m_mode->clear();
    for (const QString& mode : m_caps.modes)
        m_mode->addItem(modeLabel(mode), mode);
    int mode = m_mode->findData(QStringLiteral("Color"));
    if (mode < 0)
        mode = m_mode->findData(m_caps.mode);
    m_mode->setCurrentIndex(std::max(mode, 0));

    m_resolution->clear();
    for (double dpi : m_caps.resolutions)
        m_resolution->addItem(QStringLiteral("%1 dpi").arg(dpi, 0, 'f', 0), dpi);
    int dpi = m_resolution->findData(300.0);
    if (dpi < 0)
        dpi = m_resolution->findData(m_caps.resolution);
    m_resolution->setCurrentIndex(std::max(dpi, 0));

    m_area->setCurrentIndex(AreaA4);
    m_scan->setEnabled(index >= 0 && m_caps.available);
}

ScannerChoice ScannerSettingsDialog::choice() const {
    ScannerChoice c;
    const int index = m_device->currentIndex();
    if (index >= 0 && index < static_cast<int>(m_devices.size()))
        c.device = m_devices[static_cast<std::size_t>(index)].name;
    c.mode = m_mode->currentData().toString();
    c.resolution = m_resolution->currentData().toDouble();
    switch (m_area->currentData().toInt()) {
    case AreaA4:
        c.widthMm = kA4WidthMm;
        c.heightMm = kA4HeightMm;
        break;
    case AreaEightInches:
        c.widthMm = kEightInchesMm;
        c.heightMm = kEightInchesMm;
        break;
    default:
        c.widthMm = m_caps.bedWidthMm;
        c.heightMm = m_caps.bedHeightMm;
        break;
    }
    if (m_caps.bedWidthMm > 0)
        c.widthMm = std::min(c.widthMm, m_caps.bedWidthMm);
    if (m_caps.bedHeightMm > 0)
        c.heightMm = std::min(c.heightMm, m_caps.bedHeightMm);
    return c;
}
