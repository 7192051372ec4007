#pragma once

#include <QImage>
#include <QList>
#include <QString>

// A working image: one or more frames of the same file (a GIF may hold several) and the
// frame being worked on. Frames are QImages, so copying an ImageFile shares the pixels.
// Every frame is kept as 32-bit RGB (ARGB when the file has transparency).
class ImageFile {
  public:
    ImageFile() = default;
    // Reduced copies (see reduced()) are made here for the frames large enough to need one.
    explicit ImageFile(QList<QImage> frames, int activeFrame = 0);
    // Frames with the reduced copies a caller already has, one per frame; the null
    // entries (and all of them when the list has another length) are made here.
    ImageFile(QList<QImage> frames, QList<QImage> reduced, int activeFrame = 0);

    // Frames at least this wide and high get a reduced copy: on smaller ones, fitting and
    // cropping from the frame itself is quick.
    static constexpr int kReduceFrom = 1024;
    static bool needsReducedCopy(QSize frame) {
        return frame.width() >= kReduceFrom && frame.height() >= kReduceFrom;
    }

    // The largest decoded image the reader may allocate, in megabytes (that of
    // PageLimits::kPageBytes). A file whose header claims more fails to load instead of
    // exhausting memory.
    static constexpr int kAllocationLimitMb = 256;
    // Only the first frame is ever shown or cropped; of an animation at most this many
    // frames, taking at most kFramesBudgetMb once decoded, are kept and the rest is not read,
    // so a GIF of thousands of frames neither exhausts memory nor stalls the load.
    static constexpr int kMaxFrames = 64;
    static constexpr qint64 kFramesBudgetMb = 256;

    // Loads a BMP, JPEG, GIF or PNG file, recognised by its content whatever its name.
    // The frames of a multi-frame file are kept (up to kMaxFrames); the first one becomes
    // active. A file that is missing, truncated, damaged, beyond the page limits, not a
    // regular file or not an image leaves this object empty and returns false; the batch
    // command's region reads accept and refuse the same files.
    bool loadFile(const QString& path);

    bool isNull() const { return m_frames.isEmpty(); }
    int width() const { return image().width(); }
    int height() const { return image().height(); }
    QSize size() const { return image().size(); }

    int frameCount() const { return int(m_frames.size()); }
    int activeFrame() const { return m_active; } // 0-based
    void setActiveFrame(int index);              // ignored when out of range

    // The active frame's pixels (shared, not copied); a null image when empty.
    QImage image() const;
    QImage frame(int index) const { return m_frames.value(index); }
    const QList<QImage>& frames() const { return m_frames; }

    // The active frame with every FastPixels::kBlock square averaged into one pixel, kept
    // beside it so that fitting it into the window and cropping large regions read a
    // sixteenth of the pixels. A null image for small or non-RGB32 frames.
    QImage reduced() const { return m_reduced.value(m_active); }
    QImage reducedFrame(int index) const { return m_reduced.value(index); }

    // What the last failed loadFile() found wrong, for logs and tests.
    QString errorString() const { return m_error; }

  private:
    void makeReduced();
    bool load(const QString& path);
    bool readFrames(const QByteArray& bytes);

    QList<QImage> m_frames;
    QList<QImage> m_reduced; // parallel to m_frames
    int m_active = 0;
    QString m_error;
};
