// The timestamps of Authenticode signatures on the host, on OpenSSL: the time a signer's timestamp
// proves, and with it the time at which the signer's chain is judged.
//
// A timestamp is an unauthenticated attribute of signer 0, in one of two forms:
//   - a PKCS #9 countersignature (1.2.840.113549.1.9.6): a SignerInfo whose messageDigest
//     attribute is the digest of signer 0's encryptedDigest and whose signingTime attribute is
//     the time; its certificate is among those the message carries;
//   - an RFC 3161 time-stamp token (1.3.6.1.4.1.311.3.3.1): a signed-data ContentInfo whose
//     content is a TSTInfo with a messageImprint over signer 0's encryptedDigest and the time in
//     genTime; its certificates are carried in the token (entries that are no X.509 certificate,
//     such as attribute certificates, are passed over) and in the message.
// A timestamp counts when its signature verifies, its digest matches the signature it stamps, its
// signer's certificate names time stamping as an extended key usage, and that certificate's chain
// ends at a root of the trust store, checked at the time the timestamp itself states.
#pragma once

#include <ctime>
#include <optional>

#include "platform/host/openssl_signed_data.h"

namespace tolvessa::host {

// The time a valid timestamp of signer 0 proves (the first valid one, RFC 3161 tokens before
// countersignatures), or nothing when there is none.
std::optional<std::time_t> TimestampTime(const SignedMessage& message, const TrustStore& store);

// Whether `signer` names lifetime signing (1.3.6.1.4.1.311.10.3.13) among its extended key usages:
// its signatures are valid only while it is, timestamp or not.
bool IsLifetimeSigner(X509* signer);

// The time at which the chain of `signer` (signer 0 of `message`) is judged: the time its valid
// timestamp proves, unless the signer is a lifetime signer; nothing, meaning now, otherwise.
std::optional<std::time_t> SignerChainTime(const SignedMessage& message, X509* signer,
                                           const TrustStore& store);

}  // namespace tolvessa::host
