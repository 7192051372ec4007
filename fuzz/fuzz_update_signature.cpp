// The updater's signature file as the server sends it, checked against a fixed updater
// and a fixed public key: whatever the text, the check ends with a verdict, and only the
// one signature the key made over those bytes (with its trusted comment) is valid.
// Input: the signature file's bytes.

#include "fuzz/FuzzCheck.h"
#include "update/UpdateSignature.h"

namespace {

// A key made for these seeds; its secret half was thrown away after signing them.
const QByteArray kKey = QByteArrayLiteral("RWSmLERmrNJS4pIF6nK/9nPU9feROXjMTAoqamS2oD1WU/4SHHZkFI2Z");
const QByteArray kUpdater = QByteArrayLiteral("Vetra fuzz updater");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray signature = fuzz::bytes(data, size);
    using Result = UpdateSignature::Result;
    const Result result = UpdateSignature::verify(kUpdater, signature, kKey);
    FUZZ_CHECK(result == Result::Valid || result == Result::Malformed || result == Result::OtherKey ||
               result == Result::BadSignature);
    if (signature.size() > UpdateSignature::kMostSignatureBytes)
        FUZZ_CHECK(result == Result::Malformed);
    // A signature is over these bytes only.
    if (result == Result::Valid)
        FUZZ_CHECK(UpdateSignature::verify(kUpdater + ' ', signature, kKey) == Result::BadSignature);
    // Without a key nothing is valid.
    FUZZ_CHECK(UpdateSignature::verify(kUpdater, signature, QByteArray()) == Result::NoKey);
    return 0;
}
