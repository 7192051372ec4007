#include "update/VersionReply.h"

#include "update/HttpSession.h"

#include <QRegularExpression>
#include <optional>
#include <utility>

namespace VersionReply {

namespace {

constexpr qsizetype kLongestVersion = 10;

// "2.26" -> (2, 26); anything else -> nothing. Leading zeros are harmless ("2.05" is 2.5).
std::optional<std::pair<quint32, quint32>> parse(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})\\.([0-9]{1,9})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return std::make_pair(match.captured(1).toUInt(), match.captured(2).toUInt());
}

} // namespace

Verdict judge(const QString& running, const QString& reply) {
    const QString trimmed = reply.trimmed();
    // A body of blanks alone (an empty file with a line end) says no more than no body.
    if (trimmed.isEmpty())
        return Verdict::NoReply;
    if (trimmed.size() > kLongestVersion)
        return Verdict::ReceiveError;
    const auto mine = parse(running.trimmed());
    const auto theirs = parse(trimmed);
    if (!mine || !theirs)
        return Verdict::Ask;
    return *mine >= *theirs ? Verdict::UpToDate : Verdict::Ask;
}

QString question(const QString& running, const QString& reply) {
    return QStringLiteral("In questo Pc è installata la versione ") + running +
           QStringLiteral(". E' disponibile la nuova versione ") + reply +
           QStringLiteral(" si desidera scaricare la nuova versione ?");
}

QString fetch(HttpSession& session) {
    const HttpSession::Fetch result =
        session.getSmall(session.url(QString::fromLatin1(kPath)), session.limits().versionTotalMs,
                         session.limits().versionBodyCap);
    if (!result.ok)
        return {};
    return QString::fromUtf8(result.body);
}

} // namespace VersionReply
