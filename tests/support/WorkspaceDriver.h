#pragma once

#include "workspace/PictureSurface.h"
#include "workspace/SelectionFrame.h"
#include "workspace/frmScanner.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

// What a test sees of the workspace window: its controls, named as in the window's design,
// and a read-only copy of its display state. The window keeps them private; this driver is
// its friend, so that a renamed or removed control breaks the build of the tests rather
// than a lookup at run time. Valid until the window's next createForm().
struct WorkspaceControls {
    PictureSurface *pict, *transi, *pict2, *Pict3, *pict4;
    SelectionFrame *shape1, *Shape2, *Shape3;
    std::array<QRadioButton*, 3> Option1;
    QGroupBox* frameopt;
    QPushButton *SelectScan, *Command12, *ScanIm, *Command4;
    QFrame* attesa;
    QLabel* Label44;
    QProgressBar* scanProgress;
    QPushButton* scanCancel;
    QFrame* Frame1;
    QPushButton *Command5, *Command10, *Command8, *Command7, *Command9;
    QPushButton *Command3, *Command6, *Command13, *Command2, *Command11, *Command1;
    QLabel* notice;
    std::array<frmScanner::KindControls, 3> kinds;
    // The display state.
    const ImageFile& DisplayImage;
    QSize display; // DisplayWidth x DisplayHeight
    const ImageProcess& ImageProcessor;
    double DragLastX;
    qint32 ScanResult;

    const frmScanner::KindControls& controlsOf(OutputKind kind) const {
        return kinds[static_cast<std::size_t>(kind)];
    }
    SelectionFrame* frameOf(OutputKind kind) const { return controlsOf(kind).frame; }
    PictureSurface* previewOf(OutputKind kind) const { return controlsOf(kind).preview; }
    QPushButton* saveButtonOf(OutputKind kind) const { return controlsOf(kind).save; }
    QLabel* readoutOf(OutputKind kind) const { return controlsOf(kind).readout; }
};

class WorkspaceDriver {
  public:
    static WorkspaceControls controls(const frmScanner& w) {
        return {w.pict,           w.transi,
                w.pict2,          w.Pict3,
                w.pict4,          w.shape1,
                w.Shape2,         w.Shape3,
                w.Option1,        w.frameopt,
                w.SelectScan,     w.Command12,
                w.ScanIm,         w.Command4,
                w.attesa,         w.Label44,
                w.scanProgress,   w.scanCancel,
                w.Frame1,         w.Command5,
                w.Command10,      w.Command8,
                w.Command7,       w.Command9,
                w.Command3,       w.Command6,
                w.Command13,      w.Command2,
                w.Command11,      w.Command1,
                w.m_notice,       w.m_kinds,
                w.DisplayImage,   QSize(w.DisplayWidth, w.DisplayHeight),
                w.ImageProcessor, w.DragLastX,
                w.ScanResult};
    }
};

inline WorkspaceControls ui(const frmScanner& w) {
    return WorkspaceDriver::controls(w);
}

// The window's two states as the operator sees them. A page shown: kind 0 on with the three
// options and the photo and signature previews, the tools enabled, SELEZIONA offered, no
// wait panel.
inline bool showsAPage(const frmScanner& w) {
    const WorkspaceControls c = ui(w);
    const bool options =
        std::none_of(c.Option1.begin(), c.Option1.end(), [](auto* o) { return o->isHidden(); });
    return options && c.Option1[0]->isChecked() && c.frameopt->isHidden() && !c.pict2->isHidden() &&
           !c.pict4->isHidden() && c.Frame1->isEnabled() && !c.Command3->isHidden() && c.attesa->isHidden() &&
           c.Label44->text() == QStringLiteral("Attendere la fine della Scansione") && c.ScanIm->isEnabled();
}

// No page: the scan and load options offered, nothing to choose, crop or turn.
inline bool showsNoPage(const frmScanner& w) {
    const WorkspaceControls c = ui(w);
    const bool options =
        std::all_of(c.Option1.begin(), c.Option1.end(), [](auto* o) { return o->isHidden(); });
    return options && !c.frameopt->isHidden() && c.pict2->isHidden() && c.pict4->isHidden() &&
           !c.Frame1->isEnabled() && c.Command3->isHidden() && c.attesa->isHidden() && c.ScanIm->isEnabled();
}
