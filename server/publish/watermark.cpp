// Publish.Audit: the publisher's watermark.
#include "server/publish/watermark.h"

#include <cstdio>

#include "server/store/db_file.h"
#include "server/store/file_replace.h"

namespace tally {

namespace wr = watermark_record;

void encode_watermark(const Watermark& w, std::uint8_t* out) {
    std::fill_n(out, wr::size, 0);
    put_u64(out, wr::sequence, w.mark.sequence);
    put_u64(out, wr::time, w.mark.time);
    put_text(out, wr::token, w.token);
    put_u32(out, wr::check, words_check(out, wr::check.offset));
}

std::optional<Watermark> decode_watermark(const std::uint8_t* bytes) {
    if (get_u32(bytes, wr::check) != words_check(bytes, wr::check.offset)) return std::nullopt;
    Watermark w;
    w.token = get_text(bytes, wr::token);
    if (w.token.empty()) return std::nullopt;
    w.mark.sequence = get_u64(bytes, wr::sequence);
    w.mark.time = static_cast<std::uint32_t>(get_u64(bytes, wr::time));
    return w;
}

std::optional<Watermark> read_watermark(const std::string& working_directory) {
    DbFile file;
    if (!file.open_read_only(join_path(working_directory, watermark_file_name))) return std::nullopt;
    std::uint8_t bytes[wr::size];
    if (file.read_from_start(bytes, sizeof bytes) != sizeof bytes) return std::nullopt;
    return decode_watermark(bytes);
}

bool write_watermark(const std::string& working_directory, const Watermark& w) {
    const std::string next = join_path(working_directory, watermark_new_file_name);
    std::uint8_t bytes[wr::size];
    encode_watermark(w, bytes);
    DbFile file;
    std::remove(next.c_str());  // result not checked: usually there is none
    if (file.open_or_create(next) != DbFile::OpenResult::created) return false;
    const bool written = file.write_at(0, bytes, sizeof bytes) && file.sync();
    file.close();
    return written && replace_file(next, join_path(working_directory, watermark_file_name));
}

void remove_watermark(const std::string& working_directory) {
    // result not checked: a file that is not there needs no removing
    std::remove(join_path(working_directory, watermark_file_name).c_str());
}

}  // namespace tally
