// Publish.Audit, beside the database files: how far the database holds
// this server's store, so that a restart publishes only what came after:
// the last event sequence and the time before which every change of the
// store is in the database, under the sync token of the site's row in the
// database (another token there: the database was replaced, a full sync).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/bytes.h"
#include "server/publish/publish_batch.h"

namespace tally {

constexpr char watermark_file_name[] = "Publish.Audit";
constexpr char watermark_new_file_name[] = "Publish.Audit.new";

namespace watermark_record {
constexpr std::size_t size = 128;
constexpr Field sequence{0, 8};  // the last event sequence in the database
constexpr Field time{8, 8};      // every change of the store before it is in the database
constexpr Field token{16, 33};   // the sync token, 32 hexadecimal digits and a NUL
constexpr Field reserved{49, 75};
constexpr Field check{124, 4};   // words_check of bytes 0 to 123
constexpr Field fields[] = {sequence, time, token, reserved, check};
}  // namespace watermark_record
static_assert(layout_is_sound(watermark_record::fields, watermark_record::size) &&
                  watermark_record::check.end() == watermark_record::size,
              "watermark record layout");

struct Watermark {
    std::string token;
    PublishMark mark;
    bool operator==(const Watermark& o) const { return token == o.token && mark == o.mark; }
};

void encode_watermark(const Watermark& w, std::uint8_t* out);
// Nothing when the record's check fails or it holds no token.
std::optional<Watermark> decode_watermark(const std::uint8_t* bytes);

// Reads the file in the working directory; nothing when it is missing or not whole.
std::optional<Watermark> read_watermark(const std::string& working_directory);
// Writes a new file, flushed to disk, and puts it in place of the old one
// in one rename (a crash leaves one of the two whole). False on failure.
bool write_watermark(const std::string& working_directory, const Watermark& w);
// Removes the file (the next start does a full sync).
void remove_watermark(const std::string& working_directory);

}  // namespace tally
