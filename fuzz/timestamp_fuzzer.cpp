// Timestamps of signed messages. The input is a PKCS #7 signed message (an image's signature or a
// catalog); the timestamps among the unauthenticated attributes of its signer are read and
// checked (RFC 3161 tokens and PKCS #9 countersignatures), with the root of the seed fixtures and
// Microsoft's code roots trusted.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>

#include "fuzz/fuzz_check.h"
#include "platform/host/openssl_signed_data.h"
#include "platform/host/openssl_timestamp.h"

#ifndef TOLVESSA_FUZZ_TIMESTAMP_ROOTS
#error "TOLVESSA_FUZZ_TIMESTAMP_ROOTS names the PEM file of the roots of the seeds"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    static const host::TrustStore store(TOLVESSA_FUZZ_TIMESTAMP_ROOTS);

    const host::ErrorQueueGuard errors;
    const std::optional<host::SignedMessage> message =
        host::DecodeSignedMessage(std::span(data, size));
    if (!message)
        return 0;
    X509* signer = host::CarriedSigner(*message);
    const std::optional<std::time_t> proven = host::TimestampTime(*message, store);
    // The signer's chain is judged at the proven time, unless it signs for its lifetime only.
    if (proven && signer && !host::IsLifetimeSigner(signer))
        FUZZ_CHECK(host::SignerChainTime(*message, signer, store) == proven);
    return 0;
}
