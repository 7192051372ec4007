#include "acquire/SourceSelectDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

SourceSelectDialog::SourceSelectDialog(const std::vector<SaneDeviceInfo>& devices, int current,
                                       QWidget* parent)
    : QDialog(parent), m_list(new QListWidget(this)), m_select(nullptr) {
    setObjectName(QStringLiteral("SourceSelectDialog"));
    setWindowTitle(QStringLiteral("Seleziona scanner"));
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(devices.empty() ? QStringLiteral("Nessuno scanner trovato.")
                                               : QStringLiteral("Scanner disponibili:"),
                               this);
    layout->addWidget(caption);
    m_list->setObjectName(QStringLiteral("devices"));
    const QStringList labels = deviceLabels(devices);
    for (qsizetype i = 0; i < labels.size(); ++i) {
        auto* item = new QListWidgetItem(labels.at(i), m_list);
        item->setToolTip(QString::fromUtf8(devices[static_cast<std::size_t>(i)].name));
    }
    if (current >= 0 && current < m_list->count())
        m_list->setCurrentRow(current);
    else if (m_list->count() > 0)
        m_list->setCurrentRow(0);
    layout->addWidget(m_list);

    auto* buttons = new QDialogButtonBox(this);
    m_select = buttons->addButton(QStringLiteral("Seleziona"), QDialogButtonBox::AcceptRole);
    m_select->setObjectName(QStringLiteral("select"));
    m_select->setEnabled(m_list->count() > 0);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Annulla"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    resize(360, 240);
}

int SourceSelectDialog::chosen() const {
    return m_list->currentRow();
}
