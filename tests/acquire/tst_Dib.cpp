#include "tst_acquire.h"

#include "FakeDsm.h"
#include "acquire/Dib.h"
#include "acquire/SanePageReader.h"
#include "acquire/TwainShim.h"
#include "acquire/mdlTwain.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

dib::BITMAPINFOHEADER header(int width, int height, int bits, unsigned colours = 0, unsigned compression = 0,
                             unsigned size = 40) {
    dib::BITMAPINFOHEADER h{};
    h.biSize = size;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<std::uint16_t>(bits);
    h.biClrUsed = colours;
    h.biCompression = compression;
    return h;
}

SanePageReader::Frame frame(SANE_Frame format, int width, int lines, int depth, bool last,
                            std::function<int(int x, int y, int c)> value) {
    SanePageReader::Frame f;
    const int channels = format == SANE_FRAME_RGB ? 3 : 1;
    f.params.format = format;
    f.params.last_frame = last ? SANE_TRUE : SANE_FALSE;
    f.params.pixels_per_line = width;
    f.params.depth = depth;
    f.params.lines = lines;
    f.params.bytes_per_line =
        (width * channels * depth + 7) / 8 + 1; // one byte of padding, as some devices send
    f.lines = lines;
    f.bytes.assign(static_cast<std::size_t>(f.params.bytes_per_line) * lines, 0);
    for (int y = 0; y < lines; ++y) {
        unsigned char* line = f.bytes.data() + static_cast<std::size_t>(y) * f.params.bytes_per_line;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const int i = x * channels + c;
                const int v = value(x, y, c);
                if (depth == 1)
                    line[i / 8] |= static_cast<unsigned char>((v ? 1 : 0) << (7 - i % 8));
                else if (depth == 8)
                    line[i] = static_cast<unsigned char>(v);
                else {
                    const auto w = static_cast<std::uint16_t>(v * 257);
                    std::memcpy(line + i * 2, &w, 2);
                }
            }
        }
    }
    return f;
}

QImage toImage(const std::vector<unsigned char>& packed, const QString& path) {
    TW_HANDLE handle = twainshim::GlobalAdopt(std::vector<unsigned char>(packed));
    if (mdlTwain::WriteDibAsBmp(handle, path) != 0)
        return {};
    return QImage(path);
}

int red(int x, int y) {
    return (x * 40 + y) % 256;
}
int green(int x, int y) {
    return (y * 30 + x) % 256;
}
int blue(int x, int y) {
    return (x * y) % 256;
}

} // namespace

class TestDib : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

  private Q_SLOTS:
    void layout_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("colours");
        QTest::addColumn<int>("rowBytes");
        QTest::addColumn<int>("tableBytes");
        QTest::addColumn<int>("dibSize");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<int>("offset");
        QTest::newRow("24-bit 2400 x 2400")
            << 2400 << 2400 << 24 << 0 << 7200 << 0 << 17280040 << 17280054 << 54;
        QTest::newRow("8-bit 1000 x 1000")
            << 1000 << 1000 << 8 << 0 << 1000 << 1024 << 1001064 << 1001078 << 1078;
        QTest::newRow("8-bit, 16 colours used") << 3 << 2 << 8 << 16 << 4 << 64 << 112 << 126 << 118;
        QTest::newRow("1-bit 9 wide") << 9 << 3 << 1 << 0 << 4 << 8 << 60 << 74 << 62;
        QTest::newRow("24-bit top-down") << 5 << -4 << 24 << 0 << 16 << 0 << 104 << 118 << 54;
    }
    void layout() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bits);
        QFETCH(int, colours);
        const auto l = dib::layoutOf(header(width, height, bits, static_cast<unsigned>(colours)));
        QVERIFY(l);
        QTEST(l->rowBytes, "rowBytes");
        QTEST(l->colourTableBytes, "tableBytes");
        QTEST(l->dibSize, "dibSize");
        QTEST(l->fileSize, "fileSize");
        QTEST(l->bitsOffset, "offset");
    }

    void refused_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bits");
        QTest::addColumn<unsigned>("compression");
        QTest::addColumn<unsigned>("size");
        QTest::newRow("run-length compressed") << 10 << 10 << 8 << 1u << 40u;
        QTest::newRow("bit-field masks") << 10 << 10 << 32 << 3u << 40u;
        QTest::newRow("longer header") << 10 << 10 << 24 << 0u << 108u;
        QTest::newRow("odd bit count") << 10 << 10 << 7 << 0u << 40u;
        QTest::newRow("no rows") << 10 << 0 << 24 << 0u << 40u;
        QTest::newRow("row overflows") << 100000000 << 1 << 24 << 0u << 40u;
        QTest::newRow("size overflows") << 30000 << 30000 << 24 << 0u << 40u;
    }
    void refused() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bits);
        QFETCH(unsigned, compression);
        QFETCH(unsigned, size);
        QVERIFY(!dib::layoutOf(header(width, height, bits, 0, compression, size)));
    }

    void writeRefusesAndReleases_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("emptyPath");
        std::vector<unsigned char> good = makeDib(4, 4, 24);
        QByteArray whole(reinterpret_cast<const char*>(good.data()), qsizetype(good.size()));
        QTest::newRow("no handle") << QByteArray() << false;
        QTest::newRow("empty path") << whole << true;
        QTest::newRow("block shorter than its rows") << whole.left(whole.size() - 1) << false;
        QTest::newRow("shorter than a header") << whole.left(20) << false;
        auto compressed = good;
        compressed[16] = 1; // biCompression
        QTest::newRow("compressed") << QByteArray(reinterpret_cast<const char*>(compressed.data()),
                                                  qsizetype(compressed.size()))
                                    << false;
    }
    void writeRefusesAndReleases() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, emptyPath);
        const auto before = twainshim::liveHandleCount();
        TW_HANDLE handle =
            bytes.isNull() ? nullptr
                           : twainshim::GlobalAdopt(std::vector<unsigned char>(bytes.begin(), bytes.end()));
        const QString path = emptyPath ? QString() : dir.filePath(QStringLiteral("refused.bmp"));
        QCOMPARE(mdlTwain::WriteDibAsBmp(handle, path), 1);
        QCOMPARE(handle, nullptr);
        QCOMPARE(twainshim::liveHandleCount(), before);
        QVERIFY(emptyPath || !QFile::exists(path));
    }

    void pagesBecomeReadableBitmaps_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("single-pass colour") << 0;
        QTest::newRow("three-pass colour, blue first") << 1;
        QTest::newRow("16-bit colour") << 2;
        QTest::newRow("grey") << 3;
        QTest::newRow("line art") << 4;
    }
    void pagesBecomeReadableBitmaps() {
        QFETCH(int, kind);
        const int w = 13, h = 7;
        std::vector<SanePageReader::Frame> frames;
        const auto rgb = [](int x, int y, int c) {
            return c == 0 ? red(x, y) : c == 1 ? green(x, y) : blue(x, y);
        };
        switch (kind) {
        case 0:
            frames.push_back(frame(SANE_FRAME_RGB, w, h, 8, true, rgb));
            break;
        case 1:
            frames.push_back(
                frame(SANE_FRAME_BLUE, w, h, 8, false, [](int x, int y, int) { return blue(x, y); }));
            frames.push_back(
                frame(SANE_FRAME_RED, w, h, 8, false, [](int x, int y, int) { return red(x, y); }));
            frames.push_back(
                frame(SANE_FRAME_GREEN, w, h, 8, true, [](int x, int y, int) { return green(x, y); }));
            break;
        case 2:
            frames.push_back(frame(SANE_FRAME_RGB, w, h, 16, true, rgb));
            break;
        case 3:
            frames.push_back(
                frame(SANE_FRAME_GRAY, w, h, 8, true, [](int x, int y, int) { return red(x, y); }));
            break;
        default:
            frames.push_back(
                frame(SANE_FRAME_GRAY, w, h, 1, true, [](int x, int y, int) { return (x + y) % 3 == 0; }));
            break;
        }
        const auto packed = SanePageReader::buildDib(frames, 300);
        QVERIFY(packed);
        dib::BITMAPINFOHEADER hdr{};
        std::memcpy(&hdr, packed->data(), sizeof hdr);
        QCOMPARE(int(hdr.biBitCount), kind <= 2 ? 24 : kind == 3 ? 8 : 1);
        QCOMPARE(hdr.biXPelsPerMeter, 11811);

        const QImage image = toImage(*packed, dir.filePath(QStringLiteral("page%1.bmp").arg(kind)));
        QCOMPARE(image.size(), QSize(w, h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const QRgb p = image.pixel(x, y);
                if (kind <= 2) {
                    QCOMPARE(qRed(p), red(x, y));
                    QCOMPARE(qGreen(p), green(x, y));
                    QCOMPARE(qBlue(p), blue(x, y));
                } else if (kind == 3) {
                    QCOMPARE(qGray(p), red(x, y));
                } else {
                    QCOMPARE(qGray(p), (x + y) % 3 == 0 ? 0 : 255);
                }
            }
        }
    }

    void framesThatMakeNoPage() {
        const auto one = [](int, int, int) { return 1; };
        QVERIFY(!SanePageReader::buildDib({}, 300));
        // Two of three colour passes.
        QVERIFY(!SanePageReader::buildDib(
            {frame(SANE_FRAME_RED, 4, 4, 8, false, one), frame(SANE_FRAME_GREEN, 4, 4, 8, true, one)}, 300));
        // A frame claiming more lines than its bytes hold.
        auto shortFrame = frame(SANE_FRAME_GRAY, 4, 4, 8, true, one);
        shortFrame.lines = 5;
        QVERIFY(!SanePageReader::buildDib({shortFrame}, 300));
    }
};

REGISTER_ACQUIRE_TEST(TestDib)

#include "tst_Dib.moc"
