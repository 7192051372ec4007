#pragma once

#include <QString>

// The printed labels of an Italian form that say whose place a written thing is in: the
// applicant's signature ("Firma del richiedente", "Il/La dichiarante", ...), the office's
// own ("Timbro e firma dell'ufficio", "Firma dell'addetto", ...), or another field ("Luogo e
// data", "Codice fiscale", ...). The words come from OCR of a small copy of the page, so
// they are matched loosely: case, accents, spaces and punctuation do not count, and a few
// letters may be wrong, missing or extra.
namespace Locate {

enum class LabelKind {
    None,      // no label of the table: print of any other kind
    Applicant, // the applicant's signature goes here
    Office,    // the office's signature or stamp goes here
    Field,     // another field's place: what is written there is no signature
};

struct LabelMatch {
    LabelKind kind = LabelKind::None;
    QString label;    // the table's wording, as printed on forms
    int mistakes = 0; // letters wrong, missing or extra
};

// The label text holds, anywhere within it (a line read may carry the ruling or the
// handwriting beside it as stray letters). Where several labels match, the one with most
// letters matched wins, so that "Timbro e firma dell'ufficio" is the office's and not the
// applicant's "Firma".
LabelMatch labelIn(const QString& text);

} // namespace Locate
