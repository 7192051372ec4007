#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The limits every page read keeps, whichever road decodes the page. A page beyond them
// is an unreadable page, refused before it costs more than the limits themselves.
namespace PageLimits {

// The largest page file read whole into memory (JPEG, GIF, PNG and the BMPs Qt decodes).
// An A4 page at 600 dpi is well under it in any of those formats; uncompressed BMP rows
// are read a band at a time and are not bound by it.
constexpr qint64 kFileBytes = qint64(96) << 20;
// The largest decoded page, in bytes of 32-bit pixels (an A4 page at 600 dpi is 139 MB).
constexpr qint64 kPageBytes = qint64(256) << 20;
// What libjpeg may allocate for its own work, mostly the coefficients a progressive file
// keeps for the whole page (6 bytes a pixel at full colour resolution).
constexpr qint64 kJpegWorkBytes = qint64(224) << 20;
// Progressive scans in one JPEG: ordinary files have about ten, and each scan makes the
// decoder pass over the whole page again.
constexpr int kJpegScans = 100;

// Whether a page of width x height fits kPageBytes.
bool pageFits(qint64 width, qint64 height);

} // namespace PageLimits

// The formats a page may have, recognised by the first bytes of the file whatever its
// name: the window and the batch command read the same list.
enum class PageFormat { Unknown, Jpeg, Bmp, Gif, Png };

PageFormat pageFormatOf(const QByteArray& head);

// The file name extensions of those formats, lower case, for listing a folder of pages.
QStringList pageSuffixes();

// A page file opened for reading without memory mapping, so a file cut short while it is
// read gives short reads (and an unreadable page), never a bus error. Only regular files
// are pages: the file is opened without blocking and anything else (a named pipe, a
// device, a socket, a folder) is refused at once, also behind a symbolic link.
class PageFile {
  public:
    PageFile() = default;
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    // False with an Italian reason (without the path) when the file cannot be a page.
    bool open(const QString& path, QString* error);

    qint64 size() const { return m_size; }
    // The first bytes of the file, up to max (read at open: at most kHeadBytes).
    const QByteArray& head() const { return m_head; }
    static constexpr qint64 kHeadBytes = 64 * 1024;

    // Exactly length bytes from offset; false when the file no longer holds them.
    bool readAt(qint64 offset, void* to, qint64 length) const;
    // The whole file, refused beyond PageLimits::kFileBytes or when it changes size while
    // read; false with an Italian reason.
    bool readAll(QByteArray* bytes, QString* error) const;

    // The reason given when the file turns out shorter than it was.
    static QString changedReason();

  private:
    int m_fd = -1;
    qint64 m_size = 0;
    QByteArray m_head;
};
