#include "workspace/frmScanner.h"

#include "app/Prompts.h"

frmScanner::frmScanner(Prompts& prompts, QWidget* parent) : QDialog(parent), m_prompts(prompts) {
    setWindowTitle(QStringLiteral("Vetra by Orvanta"));
    setFixedSize(1039, 653);
}

frmScanner::~frmScanner() = default;

int frmScanner::showModal() {
    return exec();
}
