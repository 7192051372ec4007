#pragma once

#include "update/aggiorna.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

class UpdateDownload;

// What a test sees of the update window: its controls, named as in the window's design. The
// window keeps them private; this driver is its friend, so that a renamed control breaks
// the tests' build.
struct AggiornaControls {
    QFrame* comunicazione;
    QLabel *generica, *messpersonale;
    QPushButton *Command3, *Command5, *installagg, *Command1, *Command2;
    QFrame* attesa;
    QLabel* Label16;
    QProgressBar* ProgressBar1;
    QFrame* respme;
    QLabel* messag;
    QPushButton* Command4;
    UpdateDownload* Inet1;
};

class AggiornaDriver {
  public:
    static AggiornaControls controls(const aggiorna& w) {
        return {w.comunicazione, w.generica, w.messpersonale, w.Command3, w.Command5,
                w.installagg,    w.Command1, w.Command2,      w.attesa,   w.Label16,
                w.ProgressBar1,  w.respme,   w.messag,        w.Command4, w.Inet1};
    }
};

inline AggiornaControls ui(const aggiorna& w) {
    return AggiornaDriver::controls(w);
}
