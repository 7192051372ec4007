#include "update/LoginReply.h"

#include <limits>

LoginReply LoginReply::parse(const QString& text) {
    static const QString authorisedMarker = QStringLiteral("utente autorizzato");
    static const QString sizeMarker = QStringLiteral("dimensione");
    static const QString messageStart = QStringLiteral("iniziomessaggio");
    static const QString messageEnd = QStringLiteral("finemessaggio");

    LoginReply reply;
    const qsizetype authorisedAt = text.indexOf(authorisedMarker);
    reply.authorised = authorisedAt >= 0;
    if (reply.authorised) {
        const qsizetype sizeAt = text.indexOf(sizeMarker);
        const qsizetype figureAt = sizeAt + sizeMarker.size();
        if (sizeAt >= 0 && figureAt <= authorisedAt) {
            QString figure = text.mid(figureAt, authorisedAt - figureAt);
            figure.remove(QLatin1Char('.'));
            figure.remove(QLatin1Char(','));
            figure = figure.trimmed();
            bool ok = !figure.isEmpty();
            for (const QChar c : figure)
                ok = ok && c.isDigit() && c.unicode() < 128;
            const qlonglong thousands = ok ? figure.toLongLong(&ok) : 0;
            if (ok && thousands <= std::numeric_limits<qint32>::max())
                reply.expectedSize = thousands * 1000;
        }
    }

    const qsizetype startAt = text.indexOf(messageStart);
    const qsizetype endAt = text.indexOf(messageEnd);
    if (startAt >= 0 && endAt >= 0) {
        const qsizetype from = startAt + messageStart.size();
        if (endAt > from)
            reply.personalMessage = text.mid(from, endAt - from).trimmed();
    }
    return reply;
}
