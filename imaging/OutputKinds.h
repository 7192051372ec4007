#pragma once

#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <array>

// The three output kinds of the workspace, in the order of the option buttons.
// Every command reads its sizes, limits and names from this one table.
enum class OutputKind { Foto = 0, Firma = 1, AdrCqc = 2 };

struct OutputKindInfo {
    OutputKind kind;
    const char* caption;        // option button caption, blanks included
    const char* frameName;      // shape1, Shape2, Shape3
    QRectF designFrame;         // frame rectangle at design time, pixels of pict
    QSizeF largest;             // largest frame size reached by the size steps
    QSizeF smallest;            // smallest frame size
    QSize outputSize;           // preview client size and saved image size
    const char* saveButtonName; // Command6, Command2, Command13
    const char* defaultFileName;
    qint64 sizeLimit; // largest saved file, bytes
};

inline constexpr std::array<OutputKindInfo, 3> kOutputKinds{{
    {OutputKind::Foto, " RIQUADRO FOTO ", "shape1", QRectF(80, 80, 50, 60), QSizeF(415, 498), QSizeF(50, 60),
     QSize(400, 480), "Command6", "foto", 34900},
    {OutputKind::Firma, " RIQUADRO FIRMA", "Shape2", QRectF(32, 248, 120, 24), QSizeF(408, 81.6),
     QSizeF(120, 24), QSize(375, 72), "Command2", "firma", 19900},
    {OutputKind::AdrCqc, " FOTO ADR-CQC", "Shape3", QRectF(80, 88, 50, 50), QSizeF(415, 415), QSizeF(50, 50),
     QSize(400, 400), "Command13", "foto", 9900},
}};

inline const OutputKindInfo& outputKindInfo(OutputKind kind) {
    return kOutputKinds[static_cast<std::size_t>(kind)];
}

// Client size of the working surface pict: the bounds of every frame.
inline constexpr double kPictClientWidth = 425;
inline constexpr double kPictClientHeight = 585;
