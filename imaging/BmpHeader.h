#pragma once

#include <QSize>
#include <QString>

#include <functional>
#include <vector>

// The one BMP header parser of the page readers: what the file's headers say, checked
// against the file's size, and the row decoder for the layouts we read ourselves.
struct BmpHeader {
    // Who reads the rows: our own row decoder (uncompressed 1, 4, 8, 24 and 32 bits, and
    // 32-bit 8-8-8 bit fields), Qt's reader (16-bit and other bit fields, whose rows are
    // also wholly in the file), or nobody: run-length and embedded JPEG/PNG data are
    // refused, so no page is made of rows a reader has not filled.
    enum class Rows { Ours, Qt, Refused };

    QSize size;
    bool topDown = false;
    int bitsPerPixel = 0;
    quint32 compression = 0;
    qint64 pixelOffset = 0;
    qint64 stride = 0;
    qint32 xPerMetre = 0;
    qint32 yPerMetre = 0;
    Rows rows = Rows::Ours;
    std::vector<quint32> palette; // 0xffRRGGBB, 1 << bitsPerPixel entries for <= 8 bits

    // Reads the headers from head, the first headSize bytes of a file of fileSize bytes.
    // False with an Italian reason when the file is damaged, cut short or refused; every
    // row of a parsed header lies inside the file.
    static bool parse(const uchar* head, qint64 headSize, qint64 fileSize, BmpHeader* out, QString* error);

    // Offset of stored row y (0 = top of the picture).
    qint64 rowOffset(int y) const { return pixelOffset + stride * (topDown ? y : size.height() - 1 - y); }

    // Pixels x0 .. x0 + count - 1 of a row read by our decoder, as 0xffRRGGBB.
    void decodeRow(const uchar* row, int x0, int count, quint32* dest) const;
};
