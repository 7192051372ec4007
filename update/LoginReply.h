#pragma once

#include <QString>
#include <optional>

// What the vendor's login reply says, read from the rendered text of its body.
struct LoginReply {
    bool authorised = false; // "utente autorizzato" is present
    std::optional<qint64>
        expectedSize;        // bytes; the figure between "dimensione" and "utente autorizzato" x 1000
    QString personalMessage; // between "iniziomessaggio" and "finemessaggio", trimmed

    // The markers are taken at their first occurrence. The size may carry "." and ","
    // as digit separators and blanks around it ("dimensione 2.345 utente autorizzato"
    // gives 2345000); when "utente autorizzato" comes first, or the figure is not a
    // whole number of at most 32 bits, there is no size.
    static LoginReply parse(const QString& text);
};

// The page the login starts from, and the marker that shows it is the login page.
namespace LoginPage {
inline constexpr char kPath[] = "/vetra/agg/utility.asp?method=abandon";
inline constexpr char kMarker[] = "loggare";
} // namespace LoginPage
