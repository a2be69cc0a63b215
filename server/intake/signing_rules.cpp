// Signed and unsigned datagrams: the server's verdicts and their texts.
#include "server/intake/signing_rules.h"

#include <cstdio>

namespace tally {

Refusal check_unsigned(const SigningSettings& settings, bool computer_signs) {
    if (computer_signs) return Refusal::unsigned_after_signed;
    if (settings.keys.has_key() && !settings.accept_unsigned) return Refusal::unsigned_report;
    return Refusal::none;
}

Refusal check_signed(const SigningSettings& settings, const std::uint8_t* datagram, std::size_t block_offset,
                     std::uint64_t now) {
    switch (check_signature(datagram, block_offset, settings.keys, now)) {
        case SignatureCheck::valid: return Refusal::none;
        case SignatureCheck::unknown_key: return Refusal::unknown_key;
        case SignatureCheck::bad_tag: return Refusal::bad_tag;
        case SignatureCheck::outside_window: return Refusal::outside_window;
    }
    return Refusal::bad_tag;
}

Refusal check_manifest(const SigningSettings& settings, const std::uint8_t* manifest, std::size_t size,
                       std::size_t signed_part, bool computer_signs, std::uint64_t now, bool& is_signed) {
    const PassSignature signature = pass_signature(manifest, size, signed_part);
    is_signed = signature != PassSignature::none;
    if (signature == PassSignature::none) return check_unsigned(settings, computer_signs);
    // A block cut off by the packet's end cannot verify.
    if (signature == PassSignature::cut_off) return Refusal::bad_tag;
    return check_signed(settings, manifest, signed_part, now);
}

std::string refused_text(Refusal refusal, const Ipv4& sender) {
    const char* why = "";
    switch (refusal) {
        case Refusal::none: return std::string();
        case Refusal::unsigned_report: why = "not signed"; break;
        case Refusal::unsigned_after_signed: why = "not signed, from a computer that signs its reports"; break;
        case Refusal::unknown_key: why = "signed with a key not in use"; break;
        case Refusal::bad_tag: why = "its signature does not verify"; break;
        case Refusal::outside_window: why = "signed more than 5 minutes from this server's clock"; break;
    }
    char text[160];
    std::snprintf(text, sizeof text, "Refused packet from %s: %s", format_ipv4(sender).c_str(), why);
    return text;
}

}  // namespace tally
