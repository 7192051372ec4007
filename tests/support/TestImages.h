#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

namespace TestImages {

// A page with distinct content in every region: a colour gradient, a grid of dark lines
// and a small marker at the top-left corner, so that a turned, mirrored or misplaced
// crop shows up in pixel comparisons.
QImage page(int width, int height);

// Writes image to path in the given format ("bmp", "jpg", "png"). Returns false on failure.
bool write(const QImage& image, const QString& path, const char* format, int quality = 95);

// A GIF89a file with one frame per colour, each frame filled with its colour; the global
// colour table has 128 entries.
QByteArray animatedGif(int width, int height, const QList<QColor>& frameColours);

bool writeBytes(const QString& path, const QByteArray& bytes);

} // namespace TestImages
