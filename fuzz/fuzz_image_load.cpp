// Loading an image file into the workspace: ImageFile's format checks and Qt's BMP, JPEG
// and GIF readers behind them, then the display refresh (fit into pict, every frame).
// Input: the file's bytes, written to a temporary file and chosen in the load dialog.

#include "env/Prompts.h"
#include "fuzz/FuzzCheck.h"
#include "tests/support/WorkspaceDriver.h"
#include "workspace/PictureSurface.h"
#include "workspace/frmScanner.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QPushButton>
#include <QThreadPool>

#include <unistd.h>

namespace {

// The load dialog answers with the input's file; nothing else is ever asked.
class LoadPrompts final : public Prompts {
  public:
    QString path;
    int messages = 0;
    Answer message(const QString&, Buttons) override {
        ++messages;
        return Answer::Ok;
    }
    std::optional<QString> openFile(const FileRequest&) override { return path; }
    std::optional<QString> saveFile(const FileRequest&) override { return std::nullopt; }
};

bool isWorkingFormat(const QImage& image) {
    return image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One window for the whole run, as the program keeps one.
    static LoadPrompts* prompts = new LoadPrompts;
    static frmScanner* window = new frmScanner(*prompts);
    static const QString path = QDir::temp().filePath(QStringLiteral("vetra-fuzz-image-%1").arg(::getpid()));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    prompts->path = path;
    window->Command12_Click();
    // The window looks for the photograph on a worker; the harness never destroys its
    // application (which would wait for it), so each input waits here.
    QThreadPool::globalInstance()->waitForDone();

    // Either state, never a message, never half of one.
    FUZZ_CHECK(prompts->messages == 0);
    FUZZ_CHECK(ui(*window).attesa->isHidden());
    FUZZ_CHECK(window->document().path() == path);
    const ImageFile& source = window->document().page();
    if (source.isNull()) {
        FUZZ_CHECK(!ui(*window).Frame1->isEnabled());
        FUZZ_CHECK(!ui(*window).frameopt->isHidden());
        FUZZ_CHECK(ui(*window).Command3->isHidden());
        return 0;
    }
    FUZZ_CHECK(ui(*window).Frame1->isEnabled());
    FUZZ_CHECK(source.frameCount() >= 1);
    FUZZ_CHECK(!source.size().isEmpty());
    for (const QImage& frame : source.frames())
        FUZZ_CHECK(isWorkingFormat(frame) && !frame.isNull());
    // transi holds the page one to one; pict shows it fitted, never larger than pict.
    FUZZ_CHECK(ui(*window).transi->picture().size() == source.size());
    const QSize client = ui(*window).pict->clientSize();
    FUZZ_CHECK(ui(*window).display.width() >= 0 && ui(*window).display.width() <= client.width());
    FUZZ_CHECK(ui(*window).display.height() >= 0 && ui(*window).display.height() <= client.height());
    if (!ui(*window).DisplayImage.isNull())
        FUZZ_CHECK(ui(*window).DisplayImage.frameCount() == source.frameCount());
    return 0;
}
