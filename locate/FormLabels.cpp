#include "locate/FormLabels.h"

#include <algorithm>
#include <array>
#include <vector>

namespace Locate {

namespace {

struct Entry {
    LabelKind kind;
    const char* label;
};

// The one table of labels. Longer wordings that hold a shorter one ("Firma del titolare",
// "Firma") are listed too: the longest match wins, and tells the office's from the
// applicant's where both say "firma".
constexpr std::array kLabels{
    // The applicant's place.
    Entry{LabelKind::Applicant, "Firma"},
    Entry{LabelKind::Applicant, "Firma del richiedente"},
    Entry{LabelKind::Applicant, "Firma leggibile"},
    Entry{LabelKind::Applicant, "Firma per esteso"},
    Entry{LabelKind::Applicant, "Firma del dichiarante"},
    Entry{LabelKind::Applicant, "Il/La dichiarante"},
    Entry{LabelKind::Applicant, "Il dichiarante"},
    Entry{LabelKind::Applicant, "La dichiarante"},
    Entry{LabelKind::Applicant, "Il/La richiedente"},
    Entry{LabelKind::Applicant, "Firma del titolare"},
    Entry{LabelKind::Applicant, "Firma dell'interessato"},
    Entry{LabelKind::Applicant, "Firma del candidato"},
    // The office's place.
    Entry{LabelKind::Office, "Timbro e firma dell'ufficio"},
    Entry{LabelKind::Office, "Timbro dell'ufficio e firma del funzionario"},
    Entry{LabelKind::Office, "Timbro dell'ufficio"},
    Entry{LabelKind::Office, "Timbro e firma"},
    Entry{LabelKind::Office, "Firma dell'addetto"},
    Entry{LabelKind::Office, "Firma del funzionario"},
    Entry{LabelKind::Office, "Firma dell'operatore"},
    Entry{LabelKind::Office, "Firma dell'impiegato"},
    Entry{LabelKind::Office, "Riservato all'ufficio"},
    Entry{LabelKind::Office, "Il funzionario"},
    Entry{LabelKind::Office, "L'addetto"},
    // Other fields, written on by hand.
    Entry{LabelKind::Field, "Luogo e data"},
    Entry{LabelKind::Field, "Data"},
    Entry{LabelKind::Field, "Sigla"},
    Entry{LabelKind::Field, "Codice fiscale"},
    Entry{LabelKind::Field, "Cognome"},
    Entry{LabelKind::Field, "Nome"},
    Entry{LabelKind::Field, "Luogo di nascita"},
    Entry{LabelKind::Field, "Data di nascita"},
    Entry{LabelKind::Field, "Luogo e data di nascita"},
    Entry{LabelKind::Field, "Indirizzo"},
    Entry{LabelKind::Field, "Residente a"},
    Entry{LabelKind::Field, "Comune"},
    Entry{LabelKind::Field, "Telefono"},
    Entry{LabelKind::Field, "Cittadinanza"},
    Entry{LabelKind::Field, "Documento"},
};

// The letters of text, lower case and without accents; the digits and strokes OCR reads for
// letters are taken as those letters. Spaces and punctuation do not count.
QString lettersOf(const QString& text) {
    QString out;
    for (const QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.isLetter()) {
            // i and l, the letters OCR confuses most, count as one.
            const QChar lower = c.toLower();
            out += lower == QLatin1Char('l') ? QLatin1Char('i') : lower;
            continue;
        }
        switch (c.unicode()) {
        case '1':
        case '|':
        case '!':
            out += QLatin1Char('i');
            break;
        case '0':
            out += QLatin1Char('o');
            break;
        case '5':
            out += QLatin1Char('s');
            break;
        default:
            break; // marks, spaces, punctuation
        }
    }
    return out;
}

// The fewest letters to change, drop or add in text for it to hold pattern somewhere.
int mistakesWithin(const QString& pattern, const QString& text) {
    const int n = int(text.size());
    std::vector<int> row(size_t(n) + 1, 0); // matching may start anywhere
    std::vector<int> next(row.size());
    for (int i = 1; i <= int(pattern.size()); ++i) {
        next[0] = i;
        for (int j = 1; j <= n; ++j) {
            const int change = row[size_t(j - 1)] + (pattern[i - 1] == text[j - 1] ? 0 : 1);
            next[size_t(j)] = std::min({change, row[size_t(j)] + 1, next[size_t(j - 1)] + 1});
        }
        std::swap(row, next);
    }
    return *std::min_element(row.begin(), row.end());
}

// The fewest letters of a label's start read for the label: "Firma del" could be the
// office's or the applicant's.
constexpr qsizetype kLeastCut = 10;

// Mistakes allowed in a label of this many letters: none in a short word, which a wrong
// letter makes another word ("Firma", "forma"; "Data", "dati"), then one in five.
int allowedMistakes(int letters) {
    if (letters <= 5)
        return 0;
    if (letters <= 9)
        return 1;
    return letters / 5;
}

} // namespace

LabelMatch labelIn(const QString& text) {
    const QString letters = lettersOf(text);
    LabelMatch best;
    int bestMatched = 0;
    if (letters.isEmpty())
        return best;
    for (const Entry& entry : kLabels) {
        const QString label = lettersOf(QString::fromUtf8(entry.label));
        const int mistakes = mistakesWithin(label, letters);
        if (mistakes > allowedMistakes(int(label.size())))
            continue;
        // A label is a few words on their own: one that is a small part of a line read is a
        // word of a sentence ("... la firma ...").
        const int matched = int(label.size()) - mistakes;
        if (2 * matched < int(letters.size()))
            continue;
        if (matched > bestMatched) {
            bestMatched = matched;
            best = {entry.kind, QString::fromUtf8(entry.label), mistakes};
        }
    }
    if (best.kind != LabelKind::None || letters.size() < kLeastCut)
        return best;
    // A label cut short, its end hidden under the writing over it ("Firma del dic"): taken
    // when the labels it may be the start of are all of one kind.
    for (const Entry& entry : kLabels) {
        const QString label = lettersOf(QString::fromUtf8(entry.label));
        if (label.size() <= letters.size())
            continue;
        const int mistakes = mistakesWithin(letters, label.left(letters.size() + 1));
        if (mistakes > 1)
            continue;
        if (best.kind != LabelKind::None && best.kind != entry.kind)
            return {};
        if (best.kind == LabelKind::None)
            best = {entry.kind, QString::fromUtf8(entry.label), mistakes};
    }
    return best;
}

} // namespace Locate
