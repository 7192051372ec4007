#include "controls/DateMask.h"

namespace DateMask {

namespace {

// Where each field sits in the masked text.
struct Field {
    int position;
    int length;
};
constexpr Field kDay{0, 2};
constexpr Field kMonth{3, 2};
constexpr Field kYear{6, 4};
constexpr int kSeparators[] = {2, 5};

// The number a field holds. Typing "1/2/2015" leaves "1 /2 /2015" in the box: blanks
// before or after the digits are no digit at all, so "1 " reads as 1. A field with no
// digit, or with a blank between digits, holds no number.
std::optional<int> number(const QString& text, Field field) {
    const QString typed = text.mid(field.position, field.length).trimmed();
    if (typed.isEmpty())
        return std::nullopt;
    int value = 0;
    for (const QChar c : typed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace

QString inputMask() {
    // '0' accepts a digit without requiring one, so a half-typed date stays in the box until
    // the focus leaves; "; " makes the space the blank character.
    return QStringLiteral("00/00/0000; ");
}

QString emptyText() {
    return QStringLiteral("  /  /    ");
}

std::optional<QDate> parse(const QString& text) {
    if (text.size() != kLength)
        return std::nullopt;
    for (int at : kSeparators) {
        if (text.at(at) != QLatin1Char('/'))
            return std::nullopt;
    }
    const auto day = number(text, kDay);
    const auto month = number(text, kMonth);
    const auto year = number(text, kYear);
    if (!day || !month || !year || *year < kFirstYear || *year > kLastYear)
        return std::nullopt;
    const QDate date(*year, *month, *day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

QString format(const QDate& date) {
    return date.toString(QStringLiteral("dd/MM/yyyy"));
}

} // namespace DateMask
