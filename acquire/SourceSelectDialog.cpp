#include "acquire/SourceSelectDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

SourceSelectDialog::SourceSelectDialog(const std::vector<SaneDeviceInfo>& devices, int current,
                                       QWidget* parent)
    : QDialog(parent), m_caption(new QLabel(this)), m_list(new QListWidget(this)), m_select(nullptr) {
    setObjectName(QStringLiteral("SourceSelectDialog"));
    setWindowTitle(QStringLiteral("Seleziona scanner"));
    auto* layout = new QVBoxLayout(this);
    m_caption->setObjectName(QStringLiteral("caption"));
    layout->addWidget(m_caption);
    m_list->setObjectName(QStringLiteral("devices"));
    layout->addWidget(m_list);

    auto* buttons = new QDialogButtonBox(this);
    m_select = buttons->addButton(QStringLiteral("Seleziona"), QDialogButtonBox::AcceptRole);
    m_select->setObjectName(QStringLiteral("select"));
    QPushButton* cancel = buttons->addButton(QStringLiteral("Annulla"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    setDevices(devices, current);
    resize(360, 240);
}

void SourceSelectDialog::setDevices(const std::vector<SaneDeviceInfo>& devices, int current) {
    const std::optional<SaneDeviceInfo> picked = m_list->currentRow() >= 0 ? chosenDevice() : std::nullopt;
    m_devices = devices;
    m_list->clear();
    const QStringList labels = deviceLabels(devices);
    for (qsizetype i = 0; i < labels.size(); ++i) {
        auto* item = new QListWidgetItem(labels.at(i), m_list);
        item->setToolTip(QString::fromUtf8(devices[static_cast<std::size_t>(i)].name));
        if (picked && devices[static_cast<std::size_t>(i)].name == picked->name)
            current = int(i);
    }
    if (current >= 0 && current < m_list->count())
        m_list->setCurrentRow(current);
    else if (m_list->count() > 0)
        m_list->setCurrentRow(0);
    m_select->setEnabled(m_list->count() > 0);
    updateCaption();
}

void SourceSelectDialog::setSearching(bool searching) {
    m_searching = searching;
    updateCaption();
}

void SourceSelectDialog::updateCaption() {
    m_caption->setText(m_searching         ? QStringLiteral("Ricerca degli scanner in corso...")
                       : m_devices.empty() ? QStringLiteral("Nessuno scanner trovato.")
                                           : QStringLiteral("Scanner disponibili:"));
}

int SourceSelectDialog::chosen() const {
    return m_list->currentRow();
}

std::optional<SaneDeviceInfo> SourceSelectDialog::chosenDevice() const {
    const int row = m_list->currentRow();
    if (row < 0 || row >= int(m_devices.size()))
        return std::nullopt;
    return m_devices[static_cast<std::size_t>(row)];
}
