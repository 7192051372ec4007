#pragma once

#include "encode/QualitySearch.h"
#include "env/Prompts.h"
#include "imaging/OutputKinds.h"

#include <QImage>
#include <QString>

// The save command behind the three save buttons: it asks for a file name, finds the
// best JPEG quality, from 100 down, whose file fits the kind's size limit, and writes
// that file once, atomically, at 300 x 300 dots per inch. Widget-free: the window hands
// in the preview's current image and whether the preview is shown.
//
// The window's handlers call it like this (previews are the picture surfaces of each
// kind; "visible" is the preview's own Visible flag, i.e. !widget->isHidden()):
//
//   void frmScanner::Command6_Click()   // "SALVA FOTO", kind 0
//   { SaveCommand::run(m_prompts, OutputKind::Foto, pict2->image(), !pict2->isHidden()); }
//   void frmScanner::Command2_Click()   // "SALVA FIRMA", kind 1
//   { SaveCommand::run(m_prompts, OutputKind::Firma, pict4->image(), !pict4->isHidden()); }
//   void frmScanner::Command13_Click()  // "SALVA FOTO", kind 2
//   { SaveCommand::run(m_prompts, OutputKind::AdrCqc, Pict3->image(), !Pict3->isHidden()); }
//
// The command changes no workspace state; the file is its only effect, so the same
// preview can be saved again under another name.
class SaveCommand {
  public:
    static constexpr int kDpi = 300;

    enum class Outcome {
        Saved,
        Cancelled,        // no name chosen: nothing written, nothing shown
        PreviewHidden,    // photo kinds only: the dialog was shown, then nothing is done
        ReplaceDeclined,  // the ".jpg" name we completed exists and the operator kept it
        LimitUnreachable, // even the lowest quality is too large: told, nothing written
        EncodeFailed,     // told, nothing written
        WriteFailed,      // told with the system's reason; any old file is untouched
    };

    struct Report {
        Outcome outcome = Outcome::Cancelled;
        QString fileName; // the path written (or that would have been)
        int quality = -1; // quality of the written file
        qint64 size = 0;  // bytes written
    };

    // The file the command writes for a picture: the quality search's answer, and on an
    // encoding failure the writer's reason.
    struct Encoded {
        QualitySearch::Result found;
        QString error;
    };
    // The search the save runs, on any thread: highest quality within the kind's limit.
    static Encoded encode(OutputKind kind, const QImage& previewImage);

    // Runs the whole command; all dialogs and messages go through prompts. Never throws.
    // known, when given, is encode()'s answer for this very previewImage, worked out
    // beforehand: the file is then written from it without searching again.
    // folder, when not empty, is where the dialog opens (with the kind's default name).
    static Report run(Prompts& prompts, OutputKind kind, const QImage& previewImage, bool previewVisible,
                      const Encoded* known = nullptr, const QString& folder = QString());

    // The save dialog of a kind: "Salva con nome", default name (in folder, when given), JPG
    // filter, ".jpg" completion and confirmation before replacing a file.
    static Prompts::FileRequest dialogRequest(OutputKind kind, const QString& folder = QString());

    // What the saved file will be, in the operator's words: "Qualità 85 · 34.840 byte
    // (limite 34.900)", or why there will be none.
    static QString readoutText(OutputKind kind, const Encoded& encoded);

    // fileName with ".jpg" appended when its last component has no extension.
    static QString withJpegExtension(const QString& fileName);

    // Whether the kind's command checks that its preview is shown (the two photo kinds).
    static bool checksPreviewVisibility(OutputKind kind) { return kind != OutputKind::Firma; }
};
