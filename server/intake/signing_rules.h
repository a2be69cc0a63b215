// The server's rules for signed and unsigned datagrams: which keys it
// accepts, whether it accepts unsigned reports, and the refusal of a
// datagram with the text the status line shows for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/ipv4.h"
#include "protocol/signing.h"

namespace tally {

struct SigningSettings {
    KeyRing keys;
    // Unsigned reports (clients without a key, earlier clients): accepted,
    // as always, or refused. Refused only while the server has a key.
    bool accept_unsigned = true;
};

// Why a datagram was refused; none: it is taken.
enum class Refusal { none, unsigned_report, unsigned_after_signed, unknown_key, bad_tag, outside_window };

// An unsigned datagram of a computer that has (or has not) sent a validly
// signed pass: such a computer's unsigned datagrams are always refused.
Refusal check_unsigned(const SigningSettings& settings, bool computer_signs);
// A signed datagram whose signature block lies at block_offset.
Refusal check_signed(const SigningSettings& settings, const std::uint8_t* datagram, std::size_t block_offset,
                     std::uint64_t now);

// A pass manifest of `size` bytes whose signed part (its digests) takes
// signed_part bytes: signed (its block must verify with an accepted key,
// fresh) or unsigned (the rules of check_unsigned). is_signed tells which.
Refusal check_manifest(const SigningSettings& settings, const std::uint8_t* manifest, std::size_t size,
                       std::size_t signed_part, bool computer_signs, std::uint64_t now, bool& is_signed);

// The status line for a refused datagram, naming its sender.
std::string refused_text(Refusal refusal, const Ipv4& sender);

}  // namespace tally
