#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

class OpenFolder;

// The program's JPEG writer, on libjpeg-turbo.
//
// Every file it produces is a baseline JPEG with 4:2:0 chroma subsampling, optimised
// Huffman tables and a JFIF header whose density is in dots per inch (unit 1).
// Encoder errors never end the program: libjpeg's fatal errors come back as a false
// result (or an empty QByteArray) with a reason in lastError().
//
// An instance is cheap; the save commands make one per command and reuse it for every
// encode of their quality search. Not thread-safe: one instance per thread.
class GPP2J {
  public:
    GPP2J() = default;
    GPP2J(const GPP2J&) = delete;
    GPP2J& operator=(const GPP2J&) = delete;

    // Encodes Picture and writes it to FileName, replacing any file of that name.
    // The write is atomic: on any failure the file that stood at FileName (if any) is
    // left untouched and no partial file appears. Returns true only when the file was
    // written. No extension is added or checked.
    //
    // Quality: 100 is the best. Values outside 0..100 are clamped; libjpeg itself treats
    // 0 as 1, so qualities 0 and 1 give identical files.
    // xdpi, ydpi: density recorded in the file, dots per inch. With xdpi = 0 the picture's
    // own density (QImage::dotsPerMeterX/Y) is recorded on each axis, whatever ydpi holds.
    bool JpegSaveFromPicture(const QImage& Picture, int Quality, const QString& FileName, int xdpi, int ydpi);

    // The same encode, in memory. Returns the complete JPEG file, or an empty array on
    // failure (see lastError()). Encoding a picture that encodable() returned skips the
    // pixel conversion, which matters when one picture is encoded many times.
    QByteArray encode(const QImage& Picture, int Quality, int xdpi, int ydpi);

    // Writes bytes to fileName whole or not at all, checked to the last byte on disk
    // (core/CheckedFile.h; a link in the last component is written through). False with
    // lastError() set when the file could not be written; the previous file, if any, is
    // then untouched.
    bool writeFile(const QByteArray& bytes, const QString& fileName);
    // The same inside a folder opened beforehand; name is one component.
    bool writeFile(const QByteArray& bytes, const OpenFolder& folder, const QString& name);

    // The reason of the last failure, in Italian: the system's reason in our words
    // ("permesso negato", "spazio esaurito sul disco", ...) or libjpeg's own message.
    // Empty after a success.
    QString lastError() const { return m_lastError; }

    // Picture in a pixel layout that libjpeg-turbo reads directly (opaque 32-bit or
    // 24-bit RGB); transparent pixels are laid over white. Shares Picture's pixels when
    // no conversion is needed.
    static QImage encodable(const QImage& Picture);

    // A density of QImage in whole dots per inch (0 when the image carries none).
    static int dotsPerInch(int dotsPerMeter);

  private:
    QString m_lastError;
};
