// The reply of the vendor's version file, judged against the running version.
// Input: the reply body; or the running version, a NUL byte, and the reply body.

#include "fuzz/FuzzCheck.h"
#include "update/VersionReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using VersionReply::Verdict;
    const QByteArray input = fuzz::bytes(data, size);
    QString running = QStringLiteral("2.26");
    QByteArray body = input;
    if (const qsizetype nul = input.indexOf('\0'); nul >= 0) {
        running = QString::fromUtf8(input.left(nul));
        body = input.mid(nul + 1);
    }
    // Decoded as the fetch decodes it.
    const QString reply = QString::fromUtf8(body);
    const QString trimmed = reply.trimmed();

    const Verdict verdict = VersionReply::judge(running, reply);
    if (trimmed.isEmpty())
        FUZZ_CHECK(verdict == Verdict::NoReply);
    else if (trimmed.size() > 10)
        FUZZ_CHECK(verdict == Verdict::ReceiveError);
    else
        FUZZ_CHECK(verdict == Verdict::UpToDate || verdict == Verdict::Ask);

    // A reply that reads as a version is never newer than itself.
    if (verdict == Verdict::UpToDate)
        FUZZ_CHECK(VersionReply::judge(trimmed, reply) == Verdict::UpToDate);

    // The question quotes the reply exactly as it came.
    const QString question = VersionReply::question(running, reply);
    FUZZ_CHECK(question.contains(reply));
    FUZZ_CHECK(question.endsWith(QStringLiteral(" si desidera scaricare la nuova versione ?")));
    return 0;
}
