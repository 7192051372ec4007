#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The vendor signs every updater with its Ed25519 key in the minisign format: a public key
// line ("RW" + base64 of the algorithm, an 8-byte key id and the 32-byte key) and a
// signature file of four lines (untrusted comment, signature, trusted comment, global
// signature). Both the prehashed kind ("ED", BLAKE2b-512 of the file is signed) and the
// legacy kind ("Ed", the file itself is signed) are accepted; the global signature, which
// binds the trusted comment to the signature, must hold as well.
class UpdateSignature {
  public:
    enum class Result {
        Valid,
        NoKey,        // no usable public key: nothing can be verified
        Malformed,    // the signature text is not a minisign signature
        OtherKey,     // signed, but by another key
        BadSignature, // the file (or the trusted comment) is not what was signed
        Unreadable,   // the file cannot be read
        TooLarge,     // a legacy signature over more than kMostLegacyBytes: not read at all
    };

    struct PublicKey {
        QByteArray keyId; // 8 bytes
        QByteArray key;   // 32 bytes
    };

    // The key line of a minisign public key file; a whole file (with its comment line) is
    // accepted too. Empty optional when it is not an Ed25519 public key.
    static std::optional<PublicKey> parsePublicKey(const QByteArray& text);

    // The key built into the program (VETRA_UPDATE_PUBLIC_KEY); empty when the build has none.
    static QByteArray builtInKey();

    // Verifies the file at path against a signature file's text, read from disk now.
    static Result verifyFile(const QString& path, const QByteArray& signatureText,
                             const QByteArray& publicKeyLine);

    // Verifies the file open as fd, read from its first byte (the descriptor's offset is
    // left alone), so that the caller may go on to use the very file that was checked.
    static Result verifyOpenFile(int fd, const QByteArray& signatureText, const QByteArray& publicKeyLine);

    // Verifies bytes in memory (the same rules; for callers that hold the data already).
    static Result verify(const QByteArray& data, const QByteArray& signatureText,
                         const QByteArray& publicKeyLine);

    // Signature files are a few hundred bytes; anything longer is not one.
    static constexpr qsizetype kMostSignatureBytes = 4096;

    // The legacy kind signs the file itself, so checking it means holding all of it: the
    // size is the server's choice, so a legacy signature only covers files up to this size
    // (the vendor signs with the prehashed kind, which is read in pieces).
    static constexpr qint64 kMostLegacyBytes = 8LL * 1024 * 1024;
};
