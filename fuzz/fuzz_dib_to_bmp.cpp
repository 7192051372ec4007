// A page as the scanner hands it over, a packed DIB in a memory handle, written as a BMP
// file. Input: the handle's bytes.

#include "acquire/Dib.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"
#include "fuzz/FuzzCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path =
        QDir::temp().filePath(QStringLiteral("vetra-fuzz-dib-%1.bmp").arg(::getpid()));
    QFile::remove(path);
    const std::size_t liveBefore = twainshim::liveHandleCount();

    std::optional<dib::Layout> layout;
    if (size >= sizeof(dib::BITMAPINFOHEADER)) {
        dib::BITMAPINFOHEADER header{};
        std::memcpy(&header, data, sizeof header);
        layout = dib::layoutOf(header);
    }
    if (layout) {
        FUZZ_CHECK(layout->rowBytes > 0 && layout->rowBytes % 4 == 0);
        FUZZ_CHECK(layout->colourTableBytes >= 0 && layout->colourTableBytes % 4 == 0);
        FUZZ_CHECK(layout->dibSize >= 40 + layout->colourTableBytes + layout->rowBytes);
        FUZZ_CHECK(layout->fileSize == layout->dibSize + 14);
        FUZZ_CHECK(layout->bitsOffset == 54 + layout->colourTableBytes);
    }

    TW_HANDLE handle = twainshim::GlobalAdopt(std::vector<unsigned char>(data, data + size));
    const std::int32_t result = mdlTwain::WriteDibAsBmp(handle, path);
    FUZZ_CHECK(handle == nullptr);
    FUZZ_CHECK(twainshim::liveHandleCount() == liveBefore);
    // Written exactly when the header describes the whole page and the handle holds it.
    const bool whole = layout && std::size_t(layout->dibSize) <= size;
    FUZZ_CHECK((result == 0) == whole);
    if (result == 0) {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        FUZZ_CHECK(written.size() == layout->fileSize);
        dib::BITMAPFILEHEADER fileHeader{};
        std::memcpy(&fileHeader, written.constData(), sizeof fileHeader);
        FUZZ_CHECK(fileHeader.bfType == dib::kBmpSignature);
        FUZZ_CHECK(qint64(fileHeader.bfSize) == written.size());
        FUZZ_CHECK(fileHeader.bfOffBits == std::uint32_t(layout->bitsOffset));
        FUZZ_CHECK(std::memcmp(written.constData() + 14, data, std::size_t(layout->dibSize)) == 0);
    } else {
        FUZZ_CHECK(!QFile::exists(path) || QFileInfo(path).size() == 0);
    }
    QFile::remove(path);
    return 0;
}
