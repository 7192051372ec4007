// The rendered text of the login reply: authorisation, the update's size and the
// personal message. Input: the text, UTF-8.

#include "fuzz/FuzzCheck.h"
#include "update/LoginReply.h"

#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(fuzz::bytes(data, size));
    const LoginReply reply = LoginReply::parse(text);

    FUZZ_CHECK(reply.authorised == text.contains(QStringLiteral("utente autorizzato")));
    if (reply.expectedSize) {
        // A size only comes with the authorisation, in whole thousands of a 32-bit figure.
        FUZZ_CHECK(reply.authorised);
        FUZZ_CHECK(*reply.expectedSize >= 0);
        FUZZ_CHECK(*reply.expectedSize % 1000 == 0);
        FUZZ_CHECK(*reply.expectedSize / 1000 <= std::numeric_limits<qint32>::max());
        FUZZ_CHECK(text.indexOf(QStringLiteral("dimensione")) <
                   text.indexOf(QStringLiteral("utente autorizzato")));
    }
    if (!reply.personalMessage.isEmpty()) {
        FUZZ_CHECK(reply.personalMessage == reply.personalMessage.trimmed());
        FUZZ_CHECK(text.contains(reply.personalMessage));
        FUZZ_CHECK(!reply.personalMessage.contains(QStringLiteral("finemessaggio")));
    }
    return 0;
}
