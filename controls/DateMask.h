#pragma once

#include <QDate>
#include <QString>
#include <optional>

// The rules of the date box, apart from the widget: the mask, the empty display and the
// reading of a typed date. The mask fixes the order day/month/year, so a date is read by
// position whatever the regional settings say.
namespace DateMask {

// Two digits, slash, two digits, slash, four digits; a space marks a position not yet typed.
QString inputMask();

// What the box shows when nothing is typed: "  /  /    ", ten characters.
QString emptyText();

inline constexpr int kLength = 10;
inline constexpr int kFirstYear = 1900;
inline constexpr int kLastYear = 2100;

// The date the box's text stands for. Empty when a field has no digit, when the day,
// month and year do not make a real date, or when the year is outside 1900..2100. A field
// may hold fewer digits than it has places ("1 /2 /2015" is 1 February 2015).
std::optional<QDate> parse(const QString& text);

// The text the box shows for a date: dd/mm/yyyy.
QString format(const QDate& date);

} // namespace DateMask
