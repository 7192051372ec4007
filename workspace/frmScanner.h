#pragma once

#include "acquire/ScanCommands.h"
#include "encode/QualitySearch.h"
#include "imaging/FrameGeometry.h"
#include "imaging/ImageFile.h"
#include "imaging/ImageProcess.h"
#include "imaging/OutputKinds.h"
#include "locate/Locator.h"
#include "workspace/SaveCommand.h"
#include "workspace/WorkspaceDocument.h"

#include <QDialog>
#include <array>
#include <functional>
#include <optional>

class Prompts;
class PictureSurface;
class QDragEnterEvent;
class QDropEvent;
class QFrame;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class SelectionFrame;

// The workspace window: the working image, the three selection frames, the previews of
// the three output kinds and every editing command. Opened modally from the start-up
// window with showModal().
//
// The window shows a WorkspaceDocument (the page, its history, the frames, the locator's
// answers and the readouts) and hands it the operator's clicks; each handler delegates in a
// line or two. The controls are rebuilt in their design state each time the window is
// opened; the document lives as long as this object.
class frmScanner : public QDialog, private ScanWindow {
    Q_OBJECT
  public:
    explicit frmScanner(Prompts& prompts, QWidget* parent = nullptr);
    ~frmScanner() override;

    // Builds the controls in their design state, runs the window load and shows the
    // window modally; returns when the window is closed.
    int showModal();

    // Destroys the controls (their pointers become invalid), builds new ones in their
    // design state and runs the window load, without showing the window. The constructor
    // and every showModal() after the first do this.
    void createForm();

    // Window load: clears the surfaces, hides the kind buttons and the signature and
    // square frames, disables the tools and computes the size steps from the frames.
    void Form_Load();

    // Fills transi, DisplayImage, DisplayWidth/DisplayHeight and pict from the document's
    // page; runs on every change of the page. Does nothing while there is no page.
    void RefreshDisplay();

    // Turns Option1(index) on and runs the output kind click, as a load or scan does.
    void setOutputKind(int index);
    // The index of the option button that is on, or -1 when none is.
    int currentOutputKind() const;

    // The controls that belong to one output kind. Valid until the next createForm().
    struct KindControls {
        QRadioButton* option = nullptr;
        SelectionFrame* frame = nullptr;
        PictureSurface* preview = nullptr;
        QPushButton* save = nullptr;
        QLabel* readout = nullptr; // beside the preview: what its save will write
    };

    // Makes the image file at path the working page, as the load command does once a file is
    // chosen (and as a dropped file does): wait panel, kind 0, Loaded state, or the Empty
    // state when the file cannot be read. Clears the turn history. Returns whether it loaded.
    bool loadPage(const QString& path);

    // The page, its history, the frames and the readouts the window shows.
    WorkspaceDocument& document() { return m_document; }
    const WorkspaceDocument& document() const { return m_document; }

    // The settings file that keeps the remembered folders (INI). Empty: the program's own
    // settings. Tests point it at a temporary file.
    void setSettingsFile(const QString& path) { m_settingsFile = path; }
    // The folder the load dialog opens in / the save dialog opens in; empty when none is known.
    QString loadFolder() const;
    QString saveFolder() const;

    Prompts& prompts() const { return m_prompts; }

    // What the remote-assistance button starts; the program wires it at start-up.
    // Until then the button does nothing.
    void setRemoteAssistance(std::function<void()> launch) { m_remoteAssistance = std::move(launch); }

    // Handlers, one per control event.
    void Option1_Click();
    void Command1_Click();  // "ESCI"
    void Command3_Click();  // "SELEZIONA": crop the frame into its kind's preview
    void Command5_Click();  // "Rotazione": quarter turn clockwise
    void Command7_Click();  // "Aumenta la Selezione"
    void Command8_Click();  // "Capovolgi in Orizzontale"
    void Command9_Click();  // "Diminuisce la Selezione"
    void Command10_Click(); // "Capovolgi in Verticale"
    void Command11_Click(); // "NUOVA"
    void Command12_Click(); // load an image file
    void Command6_Click();  // "SALVA FOTO" (kind 0)
    void Command13_Click(); // "SALVA FOTO" (kind 2)
    void Command2_Click();  // "SALVA FIRMA"
    void SelectScan_Click();
    void ScanIm_Click();
    void Command4_Click(); // remote assistance
    // Pointer events of pict: button state bits 1 left, 2 right, 4 middle; client pixels.
    void pict_MouseDown(int button, int shift, float x, float y);
    void pict_MouseMove(int button, int shift, float x, float y);
    void pict_MouseUp(int button, int shift, float x, float y);

    static QString windowCaption();

    // Automatic framing: after a load or scan the document has the locator look for the
    // photograph and the signature (WorkspaceDocument::locate). Off when the setting
    // Workspace/AutoFrame of the program's settings file (or of setSettingsFile's) is false.
    bool autoFrameEnabled() const { return autoFrameEnabled(m_settingsFile); }
    static bool autoFrameEnabled(const QString& settingsFile);
    // How many locator answers were applied or dropped so far; for tests and measurements.
    int framesLocatedCount() const { return m_document.framesLocatedCount(); }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing during a scan cancels the scan first; the window closes once it has ended.
    void done(int result) override;

  private:
    // The tests' driver reads the controls and the display state.
    friend class WorkspaceDriver;

    const KindControls& controlsOf(OutputKind kind) const { return m_kinds[static_cast<std::size_t>(kind)]; }

    SelectionFrame* frameOf(OutputKind kind) const { return controlsOf(kind).frame; }
    PictureSurface* previewOf(OutputKind kind) const { return controlsOf(kind).preview; }
    QPushButton* saveButtonOf(OutputKind kind) const { return controlsOf(kind).save; }

    // Controls, named as in the window's design. Valid until the next createForm().
    PictureSurface* pict = nullptr;
    PictureSurface* transi = nullptr;
    PictureSurface* pict2 = nullptr;
    PictureSurface* Pict3 = nullptr;
    PictureSurface* pict4 = nullptr;
    SelectionFrame* shape1 = nullptr;
    SelectionFrame* Shape2 = nullptr;
    SelectionFrame* Shape3 = nullptr;
    std::array<QRadioButton*, 3> Option1{};
    QGroupBox* frameopt = nullptr;
    QPushButton* SelectScan = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command12 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* ScanIm = nullptr;
    QPushButton* Command4 = nullptr;
    QFrame* attesa = nullptr;
    QLabel* Label44 = nullptr;
    QProgressBar* scanProgress = nullptr; // in attesa during a scan
    QPushButton* scanCancel = nullptr;    // "Annulla", in attesa during a scan
    QFrame* Frame1 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command10 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command13 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command11 = nullptr;
    QPushButton* Command1 = nullptr;

    // Workspace members; the page itself is the document's.
    ImageProcess ImageProcessor; // the display refresh's fit
    ImageFile DisplayImage;      // SourceImage fitted into pict
    qint16 DisplayWidth = 0;
    qint16 DisplayHeight = 0;
    qint32 ScanResult = 0;
    double DragLastX = 0;
    double DragLastY = 0;
    // The open dialog's default extension, set by the first load; the save dialog keeps it.
    QString dialogDefaultSuffix;

    // What the scan commands ask of the window.
    void setScanEnabled(bool enabled) override;
    void setWindowEnabled(bool enabled) override;
    void showWaitPanel(bool visible) override;
    void showScanProgress(long long done, long long total) override;
    void setImagePath(const QString& path) override;
    void showScannedImage(const QString& path) override;

    void buildControls();
    void buildShortcuts();
    void loadFailed();
    // The line under the page; empty clears it.
    void showNotice(const QString& text);
    // The load command's file dialog; empty when the operator cancels it.
    std::optional<QString> chooseFile();
    // Ctrl+O: the load command's dialog, then the chosen page loaded afresh (loadFresh).
    void loadAnotherPage();
    // "NUOVA", then loadPage(path): how a page loaded by key or by a drop replaces the one
    // shown, crops and readouts included.
    void loadFresh(const QString& path);
    // Shows a new page (loaded or scanned) with the options reset; false, with the window
    // back in its empty state, when the page cannot be read.
    bool showPage(const QString& path);
    // Enables the page's commands and places the frames once a new page shows.
    void pageShown();
    void saveKind(OutputKind kind);
    // The current frame: the first visible one (only the chosen kind's frame is shown).
    std::optional<OutputKind> currentFrame() const;
    void moveFrame(double dx, double dy);
    void pictWheel(int steps);
    bool pageLoaded() const;
    void showReadout(OutputKind kind);
    void rememberFolder(const char* key, const QString& file);
    QString rememberedFolder(const char* key) const;

    Prompts& m_prompts;
    std::function<void()> m_remoteAssistance;
    ScanCommands m_scanCommands{*this, m_prompts};
    std::optional<int> m_closeAfterScan; // a close asked for while the scan was stopping
    QWidget* m_form = nullptr;
    QLabel* m_notice = nullptr; // the line under the page
    bool m_formShown = false;
    std::array<KindControls, 3> m_kinds{};
    QString m_settingsFile;
    WorkspaceDocument m_document;
};
