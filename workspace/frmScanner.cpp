#include "workspace/frmScanner.h"

#include "env/Artwork.h"
#include "env/Prompts.h"
#include "env/Settings.h"
#include "env/WindowControls.h"
#include "imaging/FrameGeometry.h"
#include "imaging/StretchRegion.h"
#include "workspace/PictureSurface.h"
#include "workspace/SaveCommand.h"
#include "workspace/SelectionFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QShortcut>

#include <algorithm>
#include <utility>

namespace {

using WindowControls::paintBackground;
using WindowControls::serif;
using WindowControls::setInk;
using WindowControls::textButton;

const QColor kWindowBlue(0, 0, 255);
const QColor kNavy(0, 0, 128);
const QColor kPreviewBlue(0, 0, 192);
const QColor kMenu(240, 240, 240);
const QColor kYellow(255, 255, 0);
const QColor kButtonFace(212, 208, 200);

const QString kWaitText = QStringLiteral("Attendere la fine della Scansione");

// Settings keys of the remembered folders.
constexpr char kLoadFolderKey[] = "Cartelle/Caricamento";
constexpr char kSaveFolderKey[] = "Cartelle/Salvataggio";

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A picture button's face: the icon at the left, the words beside it in the largest
// size at which every word fits on the face.
QPixmap pictureFace(Artwork::Icon icon, const QString& words, QSize size) {
    QPixmap face(size);
    face.fill(kButtonFace);
    QPainter painter(&face);
    const int iconSide = std::min(34, size.height() - 8);
    painter.drawPixmap(3, (size.height() - iconSide) / 2,
                       Artwork::buttonFace(icon, QString(), QSize(iconSide, iconSide), kButtonFace));
    const QRect text(iconSide + 6, 2, size.width() - iconSide - 9, size.height() - 4);
    QFont font(QStringLiteral("Liberation Sans Narrow"));
    font.setBold(true);
    for (int pixels = 15; pixels >= 8; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        bool fits =
            metrics.boundingRect(text, Qt::AlignCenter | Qt::TextWordWrap, words).height() <= text.height();
        for (const QString& word : words.split(QLatin1Char(' ')))
            fits = fits && metrics.horizontalAdvance(word) <= text.width();
        if (fits)
            break;
    }
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(text, Qt::AlignCenter | Qt::TextWordWrap, words);
    return face;
}

QPushButton* pictureButton(QWidget* parent, const char* name, Artwork::Icon icon, const QString& words,
                           const QRect& geometry) {
    auto* button = WindowControls::pictureButton(
        parent, name, geometry, pictureFace(icon, words, geometry.size() - QSize(1, 1)), kButtonFace);
    button->setToolTip(words);
    return button;
}

QLabel* textLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                  const QFont& font, const QColor& ink) {
    return WindowControls::label(parent, name, text, geometry, font, ink);
}

PictureSurface* surface(QWidget* parent, const char* name, PictureSurface::Border border,
                        const QColor& background, const QRect& geometry) {
    auto* s = named(new PictureSurface(border, background, parent), name);
    s->setGeometry(geometry);
    return s;
}

// Where each kind's own controls sit, in the order of the option buttons.
struct KindPlaces {
    QRect option;
    const char* previewName;
    PictureSurface::Border previewBorder;
    QColor previewBackground;
    QRect preview;
    QRect save;
    const char* saveCaption;
    QRect readout;
};

const std::array<KindPlaces, 3>& kindPlaces() {
    static const std::array<KindPlaces, 3> places{{
        {QRect(536, 0, 169, 30), "pict2", PictureSurface::Border::Sunken, kMenu, QRect(552, 24, 404, 484),
         QRect(680, 616, 89, 30), "SALVA FOTO", QRect(960, 388, 78, 120)},
        {QRect(704, 0, 177, 30), "pict4", PictureSurface::Border::Sunken, kMenu, QRect(565, 520, 379, 76),
         QRect(776, 616, 89, 30), "SALVA FIRMA", QRect(948, 520, 90, 80)},
        {QRect(880, 0, 177, 30), "Pict3", PictureSurface::Border::Sunken, kPreviewBlue,
         QRect(552, 72, 404, 404), QRect(680, 616, 89, 30), "SALVA FOTO", QRect(960, 356, 78, 120)},
    }};
    return places;
}

constexpr std::array<OutputKind, 3> kKinds{OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc};

std::size_t indexOf(OutputKind kind) {
    return static_cast<std::size_t>(kind);
}

} // namespace

frmScanner::frmScanner(Prompts& prompts, QWidget* parent) : QDialog(parent), m_prompts(prompts) {
    setWindowTitle(windowCaption());
    setFixedSize(1039, 653);
    paintBackground(this, kWindowBlue);
    setAcceptDrops(true);
    buildShortcuts();
    connect(&m_document, &WorkspaceDocument::pageChanged, this, &frmScanner::RefreshDisplay);
    connect(&m_document, &WorkspaceDocument::frameChanged, this, [this](OutputKind kind) {
        if (SelectionFrame* frame = frameOf(kind))
            frame->setFrameRect(m_document.frame(kind));
    });
    connect(&m_document, &WorkspaceDocument::readoutChanged, this, &frmScanner::showReadout);
    connect(&m_document, &WorkspaceDocument::failed, this,
            [this](const QString& text) { m_prompts.message(text); });
    createForm();
}

frmScanner::~frmScanner() {
    // The previews report their hiding to this window while they go; it must not look at
    // them then.
    m_kinds = {};
    delete m_form;
}

QString frmScanner::windowCaption() {
    return QStringLiteral(
        "Vetra by Orvanta   -   www.orvanta.it   -   Email :  assistenza@orvanta.it    -    "
        "Tel. 0461 000000");
}

int frmScanner::showModal() {
    // The constructor's controls are still in their design state the first time; callers
    // may already hold them (the start-up window hands the window out just before this).
    if (m_formShown)
        createForm();
    m_formShown = true;
    // The list of scanners is read while the operator frames the first page.
    m_scanCommands.findScanners();
    return exec();
}

void frmScanner::createForm() {
    // The readouts belong to the previews about to go.
    m_kinds = {};
    m_document.clearReadouts();
    delete m_form;
    m_form = new QWidget(this);
    m_form->setGeometry(0, 0, width(), height());
    buildControls();
    m_form->show();
    Form_Load();
}

void frmScanner::buildControls() {
    QWidget* form = m_form;

    transi = surface(form, "transi", PictureSurface::Border::Flat, kNavy, QRect(1168, 16, 427, 587));
    transi->setAutoSize(true);
    transi->hide();

    pict = surface(form, "pict", PictureSurface::Border::Flat, kNavy, QRect(47, 8, 427, 587));
    shape1 = named(new SelectionFrame({80, 80, 50, 60}, pict), "shape1");
    Shape2 = named(new SelectionFrame({32, 248, 120, 24}, pict), "Shape2");
    Shape3 = named(new SelectionFrame({80, 88, 50, 50}, pict), "Shape3");
    const std::array<SelectionFrame*, 3> frames{shape1, Shape2, Shape3};

    QFont readoutFont(QStringLiteral("Liberation Sans"));
    readoutFont.setPixelSize(12);
    readoutFont.setBold(true);
    for (OutputKind kind : kKinds) {
        const KindPlaces& place = kindPlaces()[indexOf(kind)];
        KindControls& controls = m_kinds[indexOf(kind)];
        controls.frame = frames[indexOf(kind)];
        controls.preview =
            surface(form, place.previewName, place.previewBorder, place.previewBackground, place.preview);
        controls.preview->hide();
        controls.preview->installEventFilter(this);

        auto* option = new QRadioButton(QLatin1String(outputKindInfo(kind).caption), form);
        option->setObjectName(QStringLiteral("Option1_%1").arg(indexOf(kind)));
        option->setGeometry(place.option);
        option->setFont(serif(12, true));
        paintBackground(option, kNavy);
        setInk(option, kYellow);
        connect(option, &QRadioButton::clicked, this, &frmScanner::Option1_Click);
        controls.option = option;
        Option1[indexOf(kind)] = option;

        controls.readout = textLabel(form, "readout", QString(), place.readout, readoutFont, Qt::white);
        controls.readout->setObjectName(QStringLiteral("readout_%1").arg(indexOf(kind)));
        controls.readout->setAlignment(kind == OutputKind::Firma ? Qt::AlignLeft | Qt::AlignVCenter
                                                                 : Qt::AlignLeft | Qt::AlignBottom);
        controls.readout->hide();
    }
    pict2 = previewOf(OutputKind::Foto);
    pict4 = previewOf(OutputKind::Firma);
    Pict3 = previewOf(OutputKind::AdrCqc);
    pict->setToolTip(
        QStringLiteral("Trascinare la selezione con il mouse o spostarla con le frecce "
                       "(Maiusc+freccia: 10 punti); la rotella del mouse la ingrandisce o la riduce"));

    frameopt = named(new QGroupBox(QStringLiteral(" Opzioni di Scansione "), form), "frameopt");
    frameopt->setGeometry(541, 48, 425, 313);
    frameopt->setFont(serif(14.25));
    paintBackground(frameopt, kWindowBlue);
    setInk(frameopt, Qt::white);
    SelectScan =
        pictureButton(frameopt, "SelectScan", Artwork::Icon::Scanner,
                      QStringLiteral("Seleziona Scanner o Driver Scansione"), QRect(16, 48, 161, 49));
    Label1 = textLabel(
        frameopt, "Label1",
        QStringLiteral("Se non selezionato  verrà utilizzato il dispositivo di default del sistema)"),
        QRect(184, 48, 233, 49), serif(11.25), Qt::white);
    Command12 = pictureButton(frameopt, "Command12", Artwork::Icon::Folder,
                              QStringLiteral("Carica Immagine da File"), QRect(16, 144, 161, 49));
    Label2 =
        textLabel(frameopt, "Label2",
                  QStringLiteral("Consente di selezionare il file immagine dal disco, da cui recuperare la "
                                 "foto e la firma."),
                  QRect(184, 136, 233, 57), serif(11.25), Qt::white);
    ScanIm = pictureButton(frameopt, "ScanIm", Artwork::Icon::Portrait, QStringLiteral("Avvia Scansione"),
                           QRect(16, 248, 161, 49));
    Command4 = pictureButton(frameopt, "Command4", Artwork::Icon::Support,
                             QStringLiteral("Avvia Teleassistenza"), QRect(288, 248, 121, 49));

    attesa =
        WindowControls::frame(form, "attesa", QRect(288, 168, 393, 97), kNavy, WindowControls::Border::Plain);
    setInk(attesa, Qt::white);
    attesa->hide();
    Label44 =
        textLabel(attesa, "Label44", kWaitText, QRect(64, 40, 273, 33), serif(14.25, true, true), Qt::white);
    // The scan's progress and its stop button, below the words.
    scanProgress = named(new QProgressBar(attesa), "scanProgress");
    scanProgress->setGeometry(16, 72, 265, 16);
    scanProgress->setTextVisible(false);
    scanProgress->hide();
    scanCancel = named(new QPushButton(QStringLiteral("Annulla"), attesa), "scanCancel");
    scanCancel->setGeometry(296, 66, 81, 25);
    scanCancel->setAutoDefault(false);
    scanCancel->hide();

    Frame1 = WindowControls::frame(form, "Frame1", QRect(8, 608, 513, 43), kWindowBlue);
    const QFont tool = serif(12, true);
    Command5 = textButton(Frame1, "Command5", QStringLiteral("Rotazione"), QRect(0, 0, 100, 40), tool);
    Command10 = textButton(Frame1, "Command10", QStringLiteral("Capovolgi in Verticale"),
                           QRect(102, 0, 100, 40), tool);
    Command8 = textButton(Frame1, "Command8", QStringLiteral("Capovolgi in Orizzontale"),
                          QRect(204, 0, 100, 40), tool);
    Command7 =
        textButton(Frame1, "Command7", QStringLiteral("Aumenta la Selezione"), QRect(306, 0, 100, 40), tool);
    Command9 = textButton(Frame1, "Command9", QStringLiteral("Diminuisce la Selezione"),
                          QRect(408, 0, 100, 40), tool);

    Command3 = textButton(form, "Command3", QStringLiteral("SELEZIONA"), QRect(552, 608, 121, 38),
                          serif(9.75, true));
    QPalette yellow = Command3->palette();
    yellow.setColor(QPalette::Button, kYellow);
    Command3->setPalette(yellow);
    Command3->hide();
    Command3->setToolTip(QStringLiteral("Ritaglia la selezione nell'anteprima (Invio)"));
    Command5->setToolTip(
        QStringLiteral("Ruota di un quarto di giro (Ctrl+R); Ctrl+Z annulla, Ctrl+Y ripete"));
    Command10->setToolTip(QStringLiteral("Capovolge dall'alto in basso; Ctrl+Z annulla, Ctrl+Y ripete"));
    Command8->setToolTip(QStringLiteral("Capovolge da sinistra a destra; Ctrl+Z annulla, Ctrl+Y ripete"));
    Command7->setToolTip(QStringLiteral("Ingrandisce la selezione (+ o rotella del mouse in su)"));
    Command9->setToolTip(QStringLiteral("Riduce la selezione (- o rotella del mouse in giù)"));
    Command12->setToolTip(
        QStringLiteral("Carica Immagine da File (Ctrl+O, o trascinare il file sulla finestra)"));

    const QFont save = serif(9, true);
    for (OutputKind kind : kKinds) {
        const KindPlaces& place = kindPlaces()[indexOf(kind)];
        QPushButton* button = textButton(form, outputKindInfo(kind).saveButtonName,
                                         QLatin1String(place.saveCaption), place.save, save);
        button->setEnabled(false);
        button->setToolTip(QStringLiteral("Salva il riquadro (Ctrl+S)"));
        m_kinds[indexOf(kind)].save = button;
    }
    Command6 = saveButtonOf(OutputKind::Foto);
    Command2 = saveButtonOf(OutputKind::Firma);
    Command13 = saveButtonOf(OutputKind::AdrCqc);
    Command13->hide();
    Command11 = textButton(form, "Command11", QStringLiteral("NUOVA"), QRect(872, 616, 89, 30), save);
    Command1 =
        textButton(form, "Command1", QStringLiteral("ESCI"), QRect(968, 616, 65, 30), serif(14.25, true));
    Command1->setToolTip(QStringLiteral("Chiude l'area di lavoro"));

    // One line under the page for what the operator should know and no button shows.
    QFont noticeFont(QStringLiteral("Liberation Sans"));
    noticeFont.setPixelSize(11);
    noticeFont.setBold(true);
    m_notice = textLabel(form, "notice", QString(), QRect(47, 595, 427, 13), noticeFont, kYellow);

    // The frames are drawn over the picture and the wait panel over everything.
    attesa->raise();

    connect(Command1, &QPushButton::clicked, this, &frmScanner::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmScanner::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmScanner::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmScanner::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &frmScanner::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &frmScanner::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &frmScanner::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &frmScanner::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &frmScanner::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &frmScanner::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &frmScanner::Command11_Click);
    connect(Command12, &QPushButton::clicked, this, &frmScanner::Command12_Click);
    connect(Command13, &QPushButton::clicked, this, &frmScanner::Command13_Click);
    connect(SelectScan, &QPushButton::clicked, this, &frmScanner::SelectScan_Click);
    connect(ScanIm, &QPushButton::clicked, this, &frmScanner::ScanIm_Click);
    connect(scanCancel, &QPushButton::clicked, this, [this] { m_scanCommands.cancelScan(); });
    connect(pict, &PictureSurface::mouseDown, this, &frmScanner::pict_MouseDown);
    connect(pict, &PictureSurface::mouseMove, this, &frmScanner::pict_MouseMove);
    connect(pict, &PictureSurface::mouseUp, this, &frmScanner::pict_MouseUp);
    connect(pict, &PictureSurface::wheelSteps, this, &frmScanner::pictWheel);
}

void frmScanner::Form_Load() {
    for (PictureSurface* s : {transi, pict, pict2, pict4, Pict3})
        s->clearPicture();
    for (QRadioButton* option : Option1)
        option->hide();
    Shape3->hide();
    Shape2->hide();
    Frame1->setEnabled(false);
    // The frames start afresh, with size steps of a tenth of their starting size.
    m_document.setShown(false);
    m_document.resetFrames();
}

int frmScanner::currentOutputKind() const {
    for (std::size_t i = 0; i < Option1.size(); ++i) {
        if (Option1[i]->isChecked())
            return int(i);
    }
    return -1;
}

void frmScanner::setOutputKind(int index) {
    if (index < 0 || index >= int(Option1.size()))
        return;
    Option1[std::size_t(index)]->setChecked(true);
    Option1_Click();
}

void frmScanner::Option1_Click() {
    // The buttons' states decide, not which one was clicked.
    if (Option1[0]->isChecked()) {
        Pict3->hide();
        pict2->show();
        shape1->show();
        Shape2->hide();
        Shape3->hide();
        Command13->hide();
        Command6->show();
    }
    if (Option1[1]->isChecked()) {
        shape1->hide();
        Shape2->show();
        Shape3->hide();
    }
    if (Option1[2]->isChecked()) {
        pict2->hide();
        Pict3->show();
        shape1->hide();
        Shape2->hide();
        Shape3->show();
        Command13->show();
        Command6->hide();
    }
}

void frmScanner::Command1_Click() {
    close();
}

void frmScanner::Command11_Click() {
    m_scanCommands.discardScanFile();
    pict4->hide();
    pict2->hide();
    Pict3->hide();
    SelectScan->show();
    ScanIm->show();
    frameopt->show();
    Command3->hide();
    Command2->setEnabled(false);
    ScanIm->setEnabled(true);
    for (PictureSurface* s : {transi, pict, pict2, pict4, Pict3})
        s->clearPicture();
    Frame1->setEnabled(false);
    for (QRadioButton* option : Option1)
        option->hide();
    Command6->setEnabled(false);
    Command2->setEnabled(false);
    Command13->setEnabled(false);
    Command13->hide();
    // The previews are empty again: what their saves would have written no longer holds.
    m_document.clearReadouts();
    m_document.setShown(false);
    showNotice(QString());
}

void frmScanner::Command12_Click() {
    if (m_scanCommands.isScanning())
        return;
    if (const std::optional<QString> chosen = chooseFile())
        loadPage(*chosen);
}

void frmScanner::loadAnotherPage() {
    // The scan's page is on its way: a file now would be replaced by it moments later.
    if (m_scanCommands.isScanning())
        return;
    if (const std::optional<QString> chosen = chooseFile())
        loadFresh(*chosen);
}

void frmScanner::loadFresh(const QString& path) {
    // A page loaded over another one starts as if "NUOVA" had been pressed first: the
    // previous person's crops and their enabled save buttons must not survive into the new
    // page, where one key would save them under the new name.
    Command11_Click();
    loadPage(path);
}

std::optional<QString> frmScanner::chooseFile() {
    m_document.setPath(QString());

    Prompts::FileRequest request;
    request.title = QStringLiteral("Selezionare il file immagine da caricare");
    request.filters = {
        QStringLiteral("Immagine Bitmap (*.bmp)"),
        QStringLiteral("Immagine JPeg (*.jpg;*.jpeg)"),
        QStringLiteral("Immagine Gif (*.gif)"),
        QStringLiteral("Files di Immagini (*.bmp;*.jpg;*.jpeg;*.gif)"),
        QStringLiteral("Tutti i Files (*.*)"),
    };
    request.filterIndex = 4;
    request.defaultSuffix = QStringLiteral("jpg");
    request.confirmOverwrite = false;
    // The dialog opens where the last page came from; a trailing separator names a folder.
    if (const QString folder = loadFolder(); !folder.isEmpty())
        request.fileName = folder + QLatin1Char('/');
    dialogDefaultSuffix = request.defaultSuffix;
    return m_prompts.openFile(request);
}

bool frmScanner::loadPage(const QString& path) {
    m_scanCommands.discardScanFile(); // the scanned page gives way to the file
    Label44->setText(QStringLiteral("Caricamento file in corso"));
    attesa->show();
    attesa->repaint();
    if (!showPage(path)) {
        // A drop has no dialog to show that something happened at all.
        showNotice(QStringLiteral("Il file %1 non è un'immagine leggibile").arg(QFileInfo(path).fileName()));
        return false;
    }
    rememberFolder(kLoadFolderKey, path);
    attesa->hide();
    Label44->setText(kWaitText);
    ScanIm->setEnabled(true);
    pageShown();
    return true;
}

bool frmScanner::showPage(const QString& path) {
    setOutputKind(0);
    for (QRadioButton* option : Option1)
        option->show();
    pict2->show();
    pict4->show();
    if (!m_document.load(path)) {
        loadFailed();
        return false;
    }
    return true;
}

void frmScanner::pageShown() {
    showNotice(QString());
    frameopt->hide();
    Frame1->setEnabled(true);
    Command3->show();
    m_document.setShown(true);
    if (autoFrameEnabled())
        m_document.locate();
}

void frmScanner::loadFailed() {
    // The window goes back to offering the scan and load options, with nothing of the
    // earlier page left to save: the operator may take the failure for the new page shown.
    attesa->hide();
    Label44->setText(kWaitText);
    for (QRadioButton* option : Option1)
        option->hide();
    pict2->hide();
    pict4->hide();
    frameopt->show();
    Frame1->setEnabled(false);
    Command3->hide();
    ScanIm->setEnabled(true);
    Command11_Click();
}

void frmScanner::showNotice(const QString& text) {
    if (!m_notice)
        return;
    m_notice->setText(m_notice->fontMetrics().elidedText(text, Qt::ElideMiddle, m_notice->width()));
    m_notice->setToolTip(text);
}

void frmScanner::RefreshDisplay() {
    const ImageFile& SourceImage = m_document.page();
    if (SourceImage.isNull())
        return;

    // transi holds the page at one pixel per pixel and shares SourceImage's pixels.
    transi->setPicture(SourceImage.image());

    // The filter list may hold a turn left by a rotation; only the fit runs here.
    ImageProcessor.removeAllFilters();
    ImageFilter& scale = ImageProcessor.addFilter(FilterKind::Scale);
    scale.maximumWidth = pict->clientSize().width();
    scale.maximumHeight = pict->clientSize().height();
    DisplayImage = ImageProcessor.apply(SourceImage);
    if (DisplayImage.isNull())
        return;
    if (DisplayImage.frameCount() == SourceImage.frameCount())
        DisplayImage.setActiveFrame(SourceImage.activeFrame());
    DisplayWidth = qint16(DisplayImage.width());
    DisplayHeight = qint16(DisplayImage.height());
    pict->setPicture(DisplayImage.image());
}

void frmScanner::Command3_Click() {
    const QImage full = transi->picture();
    const ImageFile& SourceImage = m_document.page();
    // transi shows SourceImage's active frame, whose reduced copy makes large crops quick.
    const QImage reduced =
        full.cacheKey() == SourceImage.image().cacheKey() ? SourceImage.reduced() : QImage();
    const double factor = FrameGeometry::cropScaleFactor(full.size(), DisplayWidth, DisplayHeight);
    for (OutputKind kind : kKinds) {
        const SelectionFrame* frame = frameOf(kind);
        if (!frame->Visible())
            continue;
        PictureSurface* preview = previewOf(kind);
        preview->clearDrawing();
        const QRectF source = FrameGeometry::cropSourceRect(kind, frame->frameRect(), factor);
        preview->show();
        if (factor > 0) {
            const QSize output = outputKindInfo(kind).outputSize;
            preview->drawImage(QRect(QPoint(0, 0), output), stretchRegion(full, reduced, source, output));
        }
        saveButtonOf(kind)->setEnabled(true);
        m_document.cropped(kind, preview->image());
    }
}

void frmScanner::Command5_Click() {
    if (m_document.hasPage() && m_document.turn(WorkspaceDocument::PageTurn::Clockwise))
        m_document.edits().pageTouched();
}

void frmScanner::Command8_Click() {
    if (m_document.hasPage() && m_document.turn(WorkspaceDocument::PageTurn::MirrorLeftRight))
        m_document.edits().pageTouched();
}

void frmScanner::Command10_Click() {
    // No test for an empty image here: the turn fails and says so.
    if (m_document.turn(WorkspaceDocument::PageTurn::MirrorTopBottom))
        m_document.edits().pageTouched();
}

std::optional<OutputKind> frmScanner::currentFrame() const {
    for (OutputKind kind : kKinds) {
        if (frameOf(kind)->Visible())
            return kind;
    }
    return std::nullopt;
}

void frmScanner::Command7_Click() {
    if (const auto kind = currentFrame())
        m_document.growFrame(*kind);
}

void frmScanner::Command9_Click() {
    if (const auto kind = currentFrame())
        m_document.shrinkFrame(*kind);
}

void frmScanner::pict_MouseDown(int button, int /*shift*/, float x, float y) {
    for (const SelectionFrame* frame : {shape1, Shape2, Shape3}) {
        if (!frame->Visible() || button != 1 || !FrameGeometry::contains(frame->frameRect(), x, y))
            continue;
        setCursor(Qt::SizeAllCursor);
        DragLastX = x;
        DragLastY = y;
    }
}

void frmScanner::pict_MouseMove(int button, int /*shift*/, float x, float y) {
    for (OutputKind kind : kKinds) {
        if (frameOf(kind)->Visible() && button == 1)
            m_document.dragFrame(kind, x, y, DragLastX, DragLastY);
    }
}

void frmScanner::pict_MouseUp(int /*button*/, int /*shift*/, float /*x*/, float /*y*/) {
    setCursor(Qt::ArrowCursor);
}

void frmScanner::Command6_Click() {
    saveKind(OutputKind::Foto);
}

void frmScanner::Command13_Click() {
    saveKind(OutputKind::AdrCqc);
}

void frmScanner::Command2_Click() {
    saveKind(OutputKind::Firma);
}

void frmScanner::saveKind(OutputKind kind) {
    const PictureSurface* preview = previewOf(kind);
    const QImage image = preview->image();
    // The readout's search ran on this very picture: its answer is the file to write.
    const SaveCommand::Encoded* known = m_document.encodedFor(kind, image);
    const SaveCommand::Report report =
        SaveCommand::run(m_prompts, kind, image, !preview->isHidden(), known, saveFolder());
    if (report.outcome == SaveCommand::Outcome::Saved)
        rememberFolder(kSaveFolderKey, report.fileName);
}

void frmScanner::SelectScan_Click() {
    m_scanCommands.SelectScan_Click();
    ScanResult = m_scanCommands.ScanResult();
}

void frmScanner::ScanIm_Click() {
    m_scanCommands.ScanIm_Click();
    ScanResult = m_scanCommands.ScanResult();
    if (const auto pending = std::exchange(m_closeAfterScan, std::nullopt))
        done(*pending);
}

void frmScanner::done(int result) {
    if (m_scanCommands.isScanning()) {
        // The scan's loop runs inside this window's own: closing now would leave the scan
        // going and this window's exec() unable to return.
        m_closeAfterScan = result;
        m_scanCommands.cancelScan();
        return;
    }
    m_scanCommands.discardScanFile();
    QDialog::done(result);
}

void frmScanner::setScanEnabled(bool enabled) {
    ScanIm->setEnabled(enabled);
}

void frmScanner::setWindowEnabled(bool enabled) {
    setEnabled(enabled);
}

void frmScanner::showWaitPanel(bool visible) {
    Label44->setText(kWaitText);
    scanProgress->setVisible(visible);
    scanCancel->setVisible(visible);
    attesa->setVisible(visible);
    if (visible) {
        attesa->raise();
        attesa->repaint();
    }
}

void frmScanner::showScanProgress(long long done, long long total) {
    if (total <= 0) {
        scanProgress->setRange(0, 0); // the scanner announced no size: a busy bar
        return;
    }
    // In thousandths, so that pages beyond 2 GB fit the bar's int range.
    scanProgress->setRange(0, 1000);
    scanProgress->setValue(int(std::min<long long>(1000, done * 1000 / total)));
}

void frmScanner::setImagePath(const QString& path) {
    m_document.setPath(path);
}

void frmScanner::showScannedImage(const QString& path) {
    // A page just written that cannot be read back leaves the window in its empty state:
    // showing the previous image as if it were the scan would mislead.
    if (showPage(path))
        pageShown();
}

void frmScanner::Command4_Click() {
    if (m_remoteAssistance)
        m_remoteAssistance();
}

// ---------------------------------------------------------------------------------------
// Keyboard, wheel and drops. Each key does what its button does, under the same rules: a
// key whose button could not be pressed at this moment does nothing.

void frmScanner::buildShortcuts() {
    const auto bind = [this](const QKeySequence& keys, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    // A key presses its button only when the operator could: shown and enabled.
    const auto press = [this](QPushButton* button) {
        if (button && button->isEnabled() && button->isVisibleTo(m_form))
            button->click();
    };
    bind(QKeySequence(Qt::Key_Left), [this] { moveFrame(-1, 0); });
    bind(QKeySequence(Qt::Key_Right), [this] { moveFrame(1, 0); });
    bind(QKeySequence(Qt::Key_Up), [this] { moveFrame(0, -1); });
    bind(QKeySequence(Qt::Key_Down), [this] { moveFrame(0, 1); });
    bind(QKeySequence(Qt::SHIFT | Qt::Key_Left), [this] { moveFrame(-10, 0); });
    bind(QKeySequence(Qt::SHIFT | Qt::Key_Right), [this] { moveFrame(10, 0); });
    bind(QKeySequence(Qt::SHIFT | Qt::Key_Up), [this] { moveFrame(0, -10); });
    bind(QKeySequence(Qt::SHIFT | Qt::Key_Down), [this] { moveFrame(0, 10); });
    bind(QKeySequence(Qt::Key_Plus), [this, press] { press(Command7); });
    bind(QKeySequence(Qt::Key_Minus), [this, press] { press(Command9); });
    bind(QKeySequence(Qt::Key_Return), [this, press] { press(Command3); });
    bind(QKeySequence(Qt::Key_Enter), [this, press] { press(Command3); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_S), [this, press] {
        if (const int kind = currentOutputKind(); kind >= 0 && pageLoaded())
            press(saveButtonOf(OutputKind(kind)));
    });
    // The load is offered in both states: with a page loaded it replaces it, as a scan does.
    bind(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { loadAnotherPage(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_R), [this, press] { press(Command5); });
    // Half a degree clockwise / anticlockwise: the page straightened by hand.
    bind(QKeySequence(Qt::CTRL | Qt::Key_Right), [this] {
        if (pageLoaded() && m_document.straightenBy(0.5))
            m_document.edits().pageTouched();
    });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Left), [this] {
        if (pageLoaded() && m_document.straightenBy(-0.5))
            m_document.edits().pageTouched();
    });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] {
        if (pageLoaded())
            m_document.undo();
    });
    for (const QKeySequence& redo :
         {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)})
        bind(redo, [this] {
            if (pageLoaded())
                m_document.redo();
        });
}

bool frmScanner::pageLoaded() const {
    // The tools group is enabled exactly while a page is loaded (and no scan runs).
    return Frame1 && Frame1->isEnabled();
}

void frmScanner::keyPressEvent(QKeyEvent* event) {
    // The workspace has no cancel key: Esc would close it and throw away the page, the
    // frames and the crops. Only ESCI and the close box end it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmScanner::moveFrame(double dx, double dy) {
    if (!pageLoaded())
        return;
    if (const auto kind = currentFrame())
        m_document.moveFrame(*kind, dx, dy);
}

void frmScanner::pictWheel(int steps) {
    if (!pageLoaded())
        return;
    for (; steps > 0; --steps)
        Command7_Click();
    for (; steps < 0; ++steps)
        Command9_Click();
}

namespace {

// The one local file a drag carries, or empty when it carries anything else.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return QString();
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return QString();
    const QString path = url.toLocalFile();
    return QFileInfo(path).isDir() ? QString() : path;
}

} // namespace

void frmScanner::dragEnterEvent(QDragEnterEvent* event) {
    // Refused while a scan runs, as Ctrl+O is.
    if (!m_scanCommands.isScanning() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmScanner::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty() || m_scanCommands.isScanning())
        return;
    event->acceptProposedAction();
    // As the load command once its dialog has given a file.
    m_document.setPath(QString());
    loadFresh(path);
}

// ---------------------------------------------------------------------------------------
// Readout: what each kind's save will write, found by the save's own search in the
// background after each crop.

void frmScanner::showReadout(OutputKind kind) {
    const KindControls& controls = controlsOf(kind);
    if (!controls.readout)
        return;
    const QString text = m_document.readoutText(kind);
    controls.readout->setText(text);
    controls.readout->setToolTip(m_document.readoutDetail(kind));
    // A file that cannot be saved is told on a red ground, before anyone presses save.
    if (m_document.readoutFits(kind)) {
        controls.readout->setAutoFillBackground(false);
    } else {
        paintBackground(controls.readout, QColor(192, 0, 0));
    }
    controls.readout->setVisible(!text.isEmpty() && !controls.preview->isHidden());
}

bool frmScanner::eventFilter(QObject* watched, QEvent* event) {
    // Each readout is shown beside its preview, and only while the preview is.
    if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) {
        for (OutputKind kind : kKinds) {
            if (watched == previewOf(kind))
                showReadout(kind);
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// Remembered folders, kept in the program's settings across runs.

void frmScanner::rememberFolder(const char* key, const QString& file) {
    if (const auto settings = Settings::open(m_settingsFile))
        settings->setValue(QLatin1String(key), QFileInfo(file).absolutePath());
}

QString frmScanner::rememberedFolder(const char* key) const {
    const auto settings = Settings::open(m_settingsFile);
    const QString folder = settings ? settings->value(QLatin1String(key)).toString() : QString();
    // A folder removed or unmounted since is forgotten: the dialog opens where it would anyway.
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

QString frmScanner::loadFolder() const {
    return rememberedFolder(kLoadFolderKey);
}

QString frmScanner::saveFolder() const {
    return rememberedFolder(kSaveFolderKey);
}

// ---------------------------------------------------------------------------------------
// Automatic framing: the locator's answer puts the frames on the photograph and signature.

bool frmScanner::autoFrameEnabled(const QString& settingsFile) {
    const auto settings = Settings::open(settingsFile);
    return !settings || settings->value(QStringLiteral("Workspace/AutoFrame"), true).toBool();
}
