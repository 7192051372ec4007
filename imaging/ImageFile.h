#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// A working image: one or more frames of the same file (a GIF may hold several) and the
// frame being worked on. Frames are QImages, so copying an ImageFile shares the pixels.
// Every frame is kept as 32-bit RGB (ARGB when the file has transparency).
// The later frames of an animation are counted at load but made only when one of them is
// first asked for (setActiveFrame, frame, frames, reducedFrame): only the first is ever
// shown or cropped, and each later one is a page-sized buffer (about 17 ms of copying and
// fresh memory apiece on a 300 dpi A4 page). Copies share the frames made then. As the
// const accessors may make them, one ImageFile object is read by one thread at a time.
class ImageFile {
  public:
    ImageFile() = default;
    // Reduced copies (see reduced()) are made here for the frames large enough to need one.
    explicit ImageFile(QList<QImage> frames, int activeFrame = 0);
    // Frames with the reduced copies a caller already has, one per frame; the null
    // entries (and all of them when the list has another length) are made here.
    ImageFile(QList<QImage> frames, QList<QImage> reduced, int activeFrame = 0);

    // Whether the later frames are still to be made.
    bool laterFramesPending() const { return bool(m_later); }
    // The first frame given here, the later ones each(frame, its reduced copy, reduced copy
    // out) of this file's, made when one of them is first asked for. A null result from
    // each leaves that frame null.
    using FrameMap = std::function<QImage(const QImage& frame, const QImage& reduced, QImage* reducedOut)>;
    ImageFile mapLaterFrames(QImage first, QImage firstReduced, FrameMap each) const;

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

    int frameCount() const { return m_later ? m_count : int(m_frames.size()); }
    int activeFrame() const { return m_active; } // 0-based
    void setActiveFrame(int index);              // ignored when out of range

    // The active frame's pixels (shared, not copied); a null image when empty.
    QImage image() const;
    QImage frame(int index) const {
        if (index > 0)
            makeLater();
        return m_frames.value(index);
    }
    const QList<QImage>& frames() const {
        makeLater();
        return m_frames;
    }

    // The active frame with every FastPixels::kBlock square averaged into one pixel, kept
    // beside it so that fitting it into the window and cropping large regions read a
    // sixteenth of the pixels. A null image for small or non-RGB32 frames.
    QImage reduced() const { return m_reduced.value(m_active); }
    QImage reducedFrame(int index) const {
        if (index > 0)
            makeLater();
        return m_reduced.value(index);
    }

    // What the last failed loadFile() found wrong, for logs and tests.
    QString errorString() const { return m_error; }

  private:
    struct Later;
    static void makeReduced(const QList<QImage>& frames, QList<QImage>* reduced);
    void makeReduced() { makeReduced(m_frames, &m_reduced); }
    void makeLater() const;
    bool load(const QString& path);
    bool readFrames(const QByteArray& bytes);

    // All the frames, or only the first while the later ones are pending.
    mutable QList<QImage> m_frames;
    mutable QList<QImage> m_reduced; // parallel to m_frames
    // The pending later frames, shared by the copies so that they are made once.
    mutable std::shared_ptr<Later> m_later;
    int m_count = 0; // frames in all while m_later is set
    int m_active = 0;
    QString m_error;
};
