#include "workspace/frmScanner.h"

#include "env/Artwork.h"
#include "env/Prompts.h"
#include "imaging/FrameGeometry.h"
#include "imaging/StretchRegion.h"
#include "locate/FramePlacement.h"
#include "workspace/PictureSurface.h"
#include "workspace/SaveCommand.h"
#include "workspace/SelectionFrame.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QThreadPool>

namespace {

const QColor kWindowBlue(0, 0, 255);
const QColor kNavy(0, 0, 128);
const QColor kPreviewBlue(0, 0, 192);
const QColor kMenu(240, 240, 240);
const QColor kYellow(255, 255, 0);
const QColor kButtonFace(212, 208, 200);

const QString kWaitText = QStringLiteral("Attendere la fine della Scansione");

// A push button whose caption wraps onto more lines when it does not fit, as the
// tool buttons' two-word captions need.
class CaptionButton : public QPushButton {
  public:
    CaptionButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        painter.setPen(
            palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        painter.drawText(rect().adjusted(3, 2, -3, -2), Qt::AlignCenter | Qt::TextWordWrap, text());
    }
};

void paintBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(widget->backgroundRole(), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setInk(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

QFont serif(double pointSize, bool bold = false, bool italic = false) {
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton* textButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                        const QFont& font) {
    auto* button = named(new CaptionButton(text, parent), name);
    button->setGeometry(geometry);
    button->setFont(font);
    button->setAutoDefault(false);
    return button;
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
    auto* button = named(new QPushButton(parent), name);
    button->setGeometry(geometry);
    const QPixmap face = pictureFace(icon, words, geometry.size() - QSize(1, 1));
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, kButtonFace);
    button->setPalette(palette);
    button->setIcon(QIcon(face));
    button->setIconSize(face.size());
    button->setAutoDefault(false);
    button->setToolTip(words);
    return button;
}

QLabel* textLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                  const QFont& font, const QColor& ink) {
    auto* label = named(new QLabel(text, parent), name);
    label->setGeometry(geometry);
    label->setFont(font);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setInk(label, ink);
    return label;
}

PictureSurface* surface(QWidget* parent, const char* name, PictureSurface::Border border,
                        const QColor& background, const QRect& geometry) {
    auto* s = named(new PictureSurface(border, background, parent), name);
    s->setGeometry(geometry);
    return s;
}

} // namespace

frmScanner::frmScanner(Prompts& prompts, QWidget* parent) : QDialog(parent), m_prompts(prompts) {
    setWindowTitle(windowCaption());
    setFixedSize(1039, 653);
    paintBackground(this, kWindowBlue);
    createForm();
}

frmScanner::~frmScanner() = default;

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
    return exec();
}

void frmScanner::createForm() {
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
    pict2 = surface(form, "pict2", PictureSurface::Border::Sunken, kMenu, QRect(552, 24, 404, 484));
    pict2->hide();
    Pict3 = surface(form, "Pict3", PictureSurface::Border::Sunken, kPreviewBlue, QRect(552, 72, 404, 404));
    Pict3->hide();
    pict4 = surface(form, "pict4", PictureSurface::Border::Sunken, kMenu, QRect(565, 520, 379, 76));
    pict4->hide();

    shape1 = named(new SelectionFrame({80, 80, 50, 60}, pict), "shape1");
    Shape2 = named(new SelectionFrame({32, 248, 120, 24}, pict), "Shape2");
    Shape3 = named(new SelectionFrame({80, 88, 50, 50}, pict), "Shape3");

    const std::array<QRect, 3> optionPlaces{QRect(536, 0, 169, 30), QRect(704, 0, 177, 30),
                                            QRect(880, 0, 177, 30)};
    for (std::size_t i = 0; i < Option1.size(); ++i) {
        auto* option = new QRadioButton(QLatin1String(kOutputKinds[i].caption), form);
        option->setObjectName(QStringLiteral("Option1_%1").arg(i));
        option->setGeometry(optionPlaces[i]);
        option->setFont(serif(12, true));
        paintBackground(option, kNavy);
        setInk(option, kYellow);
        Option1[i] = option;
        connect(option, &QRadioButton::clicked, this, &frmScanner::Option1_Click);
    }

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

    attesa = named(new QFrame(form), "attesa");
    attesa->setGeometry(288, 168, 393, 97);
    attesa->setFrameStyle(QFrame::Box | QFrame::Plain);
    paintBackground(attesa, kNavy);
    setInk(attesa, Qt::white);
    attesa->hide();
    Label44 =
        textLabel(attesa, "Label44", kWaitText, QRect(64, 40, 273, 33), serif(14.25, true, true), Qt::white);

    Frame1 = named(new QFrame(form), "Frame1");
    Frame1->setGeometry(8, 608, 513, 43);
    paintBackground(Frame1, kWindowBlue);
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

    const QFont save = serif(9, true);
    Command6 = textButton(form, "Command6", QStringLiteral("SALVA FOTO"), QRect(680, 616, 89, 30), save);
    Command6->setEnabled(false);
    Command13 = textButton(form, "Command13", QStringLiteral("SALVA FOTO"), QRect(680, 616, 89, 30), save);
    Command13->setEnabled(false);
    Command13->hide();
    Command2 = textButton(form, "Command2", QStringLiteral("SALVA FIRMA"), QRect(776, 616, 89, 30), save);
    Command2->setEnabled(false);
    Command11 = textButton(form, "Command11", QStringLiteral("NUOVA"), QRect(872, 616, 89, 30), save);
    Command1 =
        textButton(form, "Command1", QStringLiteral("ESCI"), QRect(968, 616, 65, 30), serif(14.25, true));

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
    connect(pict, &PictureSurface::mouseDown, this, &frmScanner::pict_MouseDown);
    connect(pict, &PictureSurface::mouseMove, this, &frmScanner::pict_MouseMove);
    connect(pict, &PictureSurface::mouseUp, this, &frmScanner::pict_MouseUp);
}

void frmScanner::Form_Load() {
    for (PictureSurface* s : {transi, pict, pict2, pict4, Pict3})
        s->clearPicture();
    for (QRadioButton* option : Option1)
        option->hide();
    Shape3->hide();
    Shape2->hide();
    Frame1->setEnabled(false);
    // A tenth of each frame's design size; the frames have not moved yet.
    for (OutputKind kind : {OutputKind::Firma, OutputKind::AdrCqc, OutputKind::Foto}) {
        const SelectionFrame* frame = frameOf(kind);
        const auto k = static_cast<std::size_t>(kind);
        StepHeight[k] = double(frame->Height()) * 10 / 100;
        StepWidth[k] = double(frame->Width()) * 10 / 100;
    }
}

SelectionFrame* frmScanner::frameOf(OutputKind kind) const {
    switch (kind) {
    case OutputKind::Foto:
        return shape1;
    case OutputKind::Firma:
        return Shape2;
    case OutputKind::AdrCqc:
        return Shape3;
    }
    return nullptr;
}

PictureSurface* frmScanner::previewOf(OutputKind kind) const {
    switch (kind) {
    case OutputKind::Foto:
        return pict2;
    case OutputKind::Firma:
        return pict4;
    case OutputKind::AdrCqc:
        return Pict3;
    }
    return nullptr;
}

QPushButton* frmScanner::saveButtonOf(OutputKind kind) const {
    switch (kind) {
    case OutputKind::Foto:
        return Command6;
    case OutputKind::Firma:
        return Command2;
    case OutputKind::AdrCqc:
        return Command13;
    }
    return nullptr;
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
}

void frmScanner::Command12_Click() {
    ImagePath.clear();

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
    dialogDefaultSuffix = request.defaultSuffix;
    const std::optional<QString> chosen = m_prompts.openFile(request);
    if (!chosen)
        return;

    Label44->setText(QStringLiteral("Caricamento file in corso"));
    attesa->show();
    attesa->repaint();
    ImagePath = *chosen;
    setOutputKind(0);
    for (QRadioButton* option : Option1)
        option->show();
    pict2->show();
    pict4->show();

    SourceImage = ImageFile();
    if (!SourceImage.loadFile(ImagePath)) {
        loadFailed();
        return;
    }
    RefreshDisplay();

    attesa->hide();
    Label44->setText(kWaitText);
    frameopt->hide();
    Frame1->setEnabled(true);
    Command3->show();
    ScanIm->setEnabled(true);
    locateFrames();
}

void frmScanner::loadFailed() {
    // No message: the window simply goes back to offering the scan and load options.
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
}

void frmScanner::RefreshDisplay() {
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
    // transi shows SourceImage's active frame, whose reduced copy makes large crops quick.
    const QImage reduced =
        full.cacheKey() == SourceImage.image().cacheKey() ? SourceImage.reduced() : QImage();
    const double factor = FrameGeometry::cropScaleFactor(full.size(), DisplayWidth, DisplayHeight);
    for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc}) {
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
    }
}

void frmScanner::turnOrFlip(int property) {
    ImageProcessor.removeAllFilters();
    ImageFilter& filter = ImageProcessor.addFilter(FilterKind::RotateFlip);
    if (property == 1)
        filter.rotationAngle = 90;
    else if (property == 2)
        filter.flipHorizontal = true;
    else
        filter.flipVertical = true;

    ImageFile turned = ImageProcessor.apply(SourceImage);
    if (turned.isNull()) {
        m_prompts.message(QStringLiteral("La rotazione dell'immagine non è riuscita."));
        return;
    }
    if (turned.frameCount() == SourceImage.frameCount())
        turned.setActiveFrame(SourceImage.activeFrame());
    SourceImage = std::move(turned);
    RefreshDisplay();
}

void frmScanner::Command5_Click() {
    if (SourceImage.isNull())
        return;
    turnOrFlip(1);
}

void frmScanner::Command8_Click() {
    if (SourceImage.isNull())
        return;
    turnOrFlip(2);
}

void frmScanner::Command10_Click() {
    // No test for an empty image here: the turn fails and says so.
    turnOrFlip(3);
}

void frmScanner::Command7_Click() {
    for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc}) {
        SelectionFrame* frame = frameOf(kind);
        if (!frame->Visible())
            continue;
        FrameRect rect = frame->frameRect();
        const auto k = static_cast<std::size_t>(kind);
        FrameGeometry::grow(rect, kind, StepWidth[k], StepHeight[k]);
        frame->setFrameRect(rect);
        return;
    }
}

void frmScanner::Command9_Click() {
    for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc}) {
        SelectionFrame* frame = frameOf(kind);
        if (!frame->Visible())
            continue;
        FrameRect rect = frame->frameRect();
        const auto k = static_cast<std::size_t>(kind);
        FrameGeometry::shrink(rect, kind, StepWidth[k], StepHeight[k]);
        frame->setFrameRect(rect);
        return;
    }
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
    for (SelectionFrame* frame : {shape1, Shape2, Shape3}) {
        if (!frame->Visible() || button != 1)
            continue;
        FrameRect rect = frame->frameRect();
        FrameGeometry::dragStep(rect, x, y, DragLastX, DragLastY);
        FrameGeometry::applyDragBounds(rect);
        frame->setFrameRect(rect);
    }
}

void frmScanner::pict_MouseUp(int /*button*/, int /*shift*/, float /*x*/, float /*y*/) {
    setCursor(Qt::ArrowCursor);
}

void frmScanner::Command6_Click() {
    SaveCommand::run(m_prompts, OutputKind::Foto, pict2->image(), !pict2->isHidden());
}

void frmScanner::Command13_Click() {
    SaveCommand::run(m_prompts, OutputKind::AdrCqc, Pict3->image(), !Pict3->isHidden());
}

void frmScanner::Command2_Click() {
    SaveCommand::run(m_prompts, OutputKind::Firma, pict4->image(), !pict4->isHidden());
}

void frmScanner::SelectScan_Click() {
    m_scanCommands.SelectScan_Click();
    ScanResult = m_scanCommands.ScanResult();
}

void frmScanner::ScanIm_Click() {
    m_scanCommands.ScanIm_Click();
    ScanResult = m_scanCommands.ScanResult();
}

void frmScanner::setScanEnabled(bool enabled) {
    ScanIm->setEnabled(enabled);
}

void frmScanner::setWindowEnabled(bool enabled) {
    setEnabled(enabled);
}

void frmScanner::showWaitPanel(bool visible) {
    Label44->setText(kWaitText);
    attesa->setVisible(visible);
    if (visible) {
        attesa->raise();
        attesa->repaint();
    }
}

void frmScanner::setImagePath(const QString& path) {
    ImagePath = path;
}

void frmScanner::showScannedImage(const QString& path) {
    setOutputKind(0);
    for (QRadioButton* option : Option1)
        option->show();
    pict2->show();
    pict4->show();
    SourceImage = ImageFile();
    if (!SourceImage.loadFile(path)) {
        // The page just written cannot be read back: showing the previous image as if it
        // were the scan would mislead, so the window goes back to its empty state.
        loadFailed();
        return;
    }
    RefreshDisplay();
    frameopt->hide();
    Frame1->setEnabled(true);
    Command3->show();
    locateFrames();
}

bool frmScanner::autoFrameEnabled() {
    const QSettings settings(QStringLiteral("Orvanta"), QStringLiteral("Vetra"));
    return settings.value(QStringLiteral("Workspace/AutoFrame"), true).toBool();
}

void frmScanner::locateFrames() {
    if (SourceImage.isNull() || !autoFrameEnabled())
        return;
    // The reduced copy is all the locator needs; both copies are shared, never written.
    const QImage picture = SourceImage.reduced().isNull() ? SourceImage.image() : SourceImage.reduced();
    const QSize pageSize = SourceImage.size();
    const qint64 key = SourceImage.image().cacheKey();
    QPointer<frmScanner> window(this);
    QThreadPool::globalInstance()->start([window, picture, pageSize, key] {
        const PageFindings findings = Locator::locate(picture, pageSize);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [window, key, findings] {
                if (window)
                    window->framesLocated(key, findings);
            },
            Qt::QueuedConnection);
    });
}

void frmScanner::framesLocated(qint64 cacheKey, const PageFindings& findings) {
    ++m_framesLocated;
    if (SourceImage.isNull() || SourceImage.image().cacheKey() != cacheKey || Command3->isHidden())
        return;
    if (findings.photo.found && findings.turn != 0) {
        // As if "Rotazione" had been pressed as often as the turn needs.
        for (int turned = 0; turned < findings.turn; turned += 90)
            Command5_Click();
        if (SourceImage.size() != findings.pageSize)
            return;
    }
    for (OutputKind kind : {OutputKind::Foto, OutputKind::Firma, OutputKind::AdrCqc}) {
        if (const std::optional<FrameRect> frame = FramePlacement::place(kind, findings))
            frameOf(kind)->setFrameRect(*frame);
    }
}

void frmScanner::Command4_Click() {
    if (m_remoteAssistance)
        m_remoteAssistance();
}
