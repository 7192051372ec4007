#include "update/UpdateSignature.h"

#include "update/Logging.h"

#include <QFile>
#include <QList>
#include <cerrno>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VETRA_UPDATE_PUBLIC_KEY
#define VETRA_UPDATE_PUBLIC_KEY ""
#endif

namespace {

constexpr qsizetype kKeyIdBytes = 8;

// Strict base64: the standard alphabet with its padding, nothing else.
std::optional<QByteArray> fromBase64(const QByteArray& text) {
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.toBase64() != text)
        return std::nullopt;
    return decoded.decoded;
}

struct Signature {
    bool prehashed = false;
    QByteArray keyId;
    QByteArray signature; // 64 bytes
    QByteArray trustedComment;
    QByteArray globalSignature; // 64 bytes
};

std::optional<Signature> parseSignature(const QByteArray& text) {
    if (text.size() > UpdateSignature::kMostSignatureBytes)
        return std::nullopt;
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    static const QByteArray untrusted = "untrusted comment: ";
    static const QByteArray trusted = "trusted comment: ";
    if (lines.size() != 4 || !lines.at(0).startsWith(untrusted) || !lines.at(2).startsWith(trusted))
        return std::nullopt;
    const auto body = fromBase64(lines.at(1).trimmed());
    const auto global = fromBase64(lines.at(3).trimmed());
    if (!body || !global || body->size() != 2 + kKeyIdBytes + crypto_sign_BYTES ||
        global->size() != crypto_sign_BYTES)
        return std::nullopt;
    Signature signature;
    const QByteArray algorithm = body->left(2);
    if (algorithm == "ED")
        signature.prehashed = true;
    else if (algorithm != "Ed")
        return std::nullopt;
    signature.keyId = body->mid(2, kKeyIdBytes);
    signature.signature = body->mid(2 + kKeyIdBytes);
    signature.trustedComment = lines.at(2).mid(trusted.size());
    signature.globalSignature = *global;
    return signature;
}

bool signatureHolds(const QByteArray& signature, const QByteArray& message, const QByteArray& key) {
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                                       reinterpret_cast<const unsigned char*>(message.constData()),
                                       static_cast<unsigned long long>(message.size()),
                                       reinterpret_cast<const unsigned char*>(key.constData())) == 0;
}

// Reads the data either from memory or from a file, hashing it for the prehashed kind
// without holding the whole file.
class Source {
  public:
    virtual ~Source() = default;
    // The message the signature covers; empty optional when it cannot be read.
    virtual std::optional<QByteArray> message(bool prehashed) = 0;
    // Whether the last message() was refused for its size.
    virtual bool tooLarge() const { return false; }
};

QByteArray blake2b(const QByteArray& data) {
    QByteArray digest(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(digest.data()), static_cast<size_t>(digest.size()),
                       reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<unsigned long long>(data.size()), nullptr, 0);
    return digest;
}

class MemorySource : public Source {
  public:
    explicit MemorySource(const QByteArray& data) : m_data(data) {}
    std::optional<QByteArray> message(bool prehashed) override {
        if (!prehashed && m_data.size() > UpdateSignature::kMostLegacyBytes)
            return std::nullopt;
        return prehashed ? blake2b(m_data) : m_data;
    }
    bool tooLarge() const override { return m_data.size() > UpdateSignature::kMostLegacyBytes; }

  private:
    const QByteArray& m_data;
};

// Reads a file from its first byte with pread, so the descriptor stays where it was.
class FileSource : public Source {
  public:
    explicit FileSource(int fd) : m_fd(fd) {}
    std::optional<QByteArray> message(bool prehashed) override {
        struct stat info {};
        if (m_fd < 0 || ::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            qCDebug(lcUpdate) << "signature check: not a readable regular file";
            return std::nullopt;
        }
        if (!prehashed && info.st_size > UpdateSignature::kMostLegacyBytes) {
            m_tooLarge = true;
            return std::nullopt;
        }
        crypto_generichash_state state;
        crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
        QByteArray whole;
        QByteArray block(64 * 1024, '\0');
        off_t offset = 0;
        for (;;) {
            const ssize_t got = ::pread(m_fd, block.data(), static_cast<size_t>(block.size()), offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return std::nullopt;
            if (got == 0)
                break;
            offset += got;
            if (prehashed) {
                crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(block.constData()),
                                          static_cast<unsigned long long>(got));
                continue;
            }
            // A file that grew past its size at the start is not read on.
            if (offset > UpdateSignature::kMostLegacyBytes) {
                m_tooLarge = true;
                return std::nullopt;
            }
            whole.append(block.constData(), got);
        }
        if (!prehashed)
            return whole;
        QByteArray digest(crypto_generichash_BYTES_MAX, '\0');
        crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(digest.data()),
                                 static_cast<size_t>(digest.size()));
        return digest;
    }
    bool tooLarge() const override { return m_tooLarge; }

  private:
    int m_fd;
    bool m_tooLarge = false;
};

UpdateSignature::Result check(Source& source, const QByteArray& signatureText,
                              const QByteArray& publicKeyLine) {
    using Result = UpdateSignature::Result;
    if (sodium_init() < 0)
        return Result::NoKey;
    const auto key = UpdateSignature::parsePublicKey(publicKeyLine);
    if (!key)
        return Result::NoKey;
    const auto signature = parseSignature(signatureText);
    if (!signature)
        return Result::Malformed;
    if (signature->keyId != key->keyId)
        return Result::OtherKey;
    const auto message = source.message(signature->prehashed);
    if (!message)
        return source.tooLarge() ? Result::TooLarge : Result::Unreadable;
    if (!signatureHolds(signature->signature, *message, key->key) ||
        !signatureHolds(signature->globalSignature, signature->signature + signature->trustedComment,
                        key->key))
        return Result::BadSignature;
    return Result::Valid;
}

} // namespace

std::optional<UpdateSignature::PublicKey> UpdateSignature::parsePublicKey(const QByteArray& text) {
    // In a whole key file the key is the last line that is not a comment.
    QByteArray line;
    for (const QByteArray& candidate : text.split('\n')) {
        const QByteArray trimmed = candidate.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith("untrusted comment:"))
            line = trimmed;
    }
    const auto decoded = fromBase64(line);
    if (!decoded || decoded->size() != 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES ||
        !decoded->startsWith("Ed"))
        return std::nullopt;
    return PublicKey{decoded->mid(2, kKeyIdBytes), decoded->mid(2 + kKeyIdBytes)};
}

QByteArray UpdateSignature::builtInKey() {
    return QByteArray(VETRA_UPDATE_PUBLIC_KEY);
}

UpdateSignature::Result UpdateSignature::verifyFile(const QString& path, const QByteArray& signatureText,
                                                    const QByteArray& publicKeyLine) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) // judged as unreadable once the key and the signature have been
        qCDebug(lcUpdate) << "signature check: cannot open" << path << "errno" << errno;
    const Result result = verifyOpenFile(fd, signatureText, publicKeyLine);
    if (fd >= 0)
        ::close(fd);
    return result;
}

UpdateSignature::Result UpdateSignature::verifyOpenFile(int fd, const QByteArray& signatureText,
                                                        const QByteArray& publicKeyLine) {
    FileSource source(fd);
    return check(source, signatureText, publicKeyLine);
}

UpdateSignature::Result UpdateSignature::verify(const QByteArray& data, const QByteArray& signatureText,
                                                const QByteArray& publicKeyLine) {
    MemorySource source(data);
    return check(source, signatureText, publicKeyLine);
}
