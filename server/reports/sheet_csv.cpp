// Spreadsheet exports: field quoting, CRLF lines, and the four sheets.
#include "server/reports/sheet_csv.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "server/model/formats.h"

namespace tally {

namespace {

constexpr std::size_t chunk_size = 64 * 1024;

std::size_t text_length(const std::uint8_t* base, Field f) {
    const void* nul = std::memchr(base + f.offset, 0, f.width);
    return nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - (base + f.offset)) : f.width;
}

// A view's sheet as its window shows it: the column titles, then each row's
// texts, column by column.
template <typename Column, typename View, typename Info>
bool write_columns_sheet(const View& view, std::size_t columns, Info column_info, SheetWriter& out) {
    for (std::size_t c = 0; c < columns; ++c) out.field(column_info(Column(c)).title);
    out.end_line();
    for (std::size_t row = 0; row < view.size(); ++row) {
        for (std::size_t c = 0; c < columns; ++c) out.field(view.text(row, Column(c)));
        out.end_line();
    }
    return out.finish();
}

}  // namespace

void SheetWriter::field(const char* text, std::size_t size) {
    if (!first_in_line_) buffer_ += ',';
    first_in_line_ = false;
    bool quote = false;
    for (std::size_t k = 0; k < size && !quote; ++k)
        quote = text[k] == ',' || text[k] == '"' || text[k] == '\r' || text[k] == '\n';
    if (!quote) {
        buffer_.append(text, size);
        return;
    }
    buffer_ += '"';
    for (std::size_t k = 0; k < size; ++k) {
        if (text[k] == '"') buffer_ += '"';
        buffer_ += text[k];
    }
    buffer_ += '"';
}

void SheetWriter::field(const std::string& text) { field(text.data(), text.size()); }

void SheetWriter::end_line() {
    buffer_ += "\r\n";
    first_in_line_ = true;
    if (buffer_.size() >= chunk_size) drain();
}

void SheetWriter::drain() {
    if (ok_ && !buffer_.empty()) ok_ = sink_(buffer_.data(), buffer_.size());
    buffer_.clear();
}

bool SheetWriter::finish() {
    drain();
    return ok_;
}

bool write_grid_sheet(const SystemsGrid& grid, SheetWriter& out) {
    return write_columns_sheet<GridColumn>(grid, grid_column_count, grid_column_info, out);
}

bool write_catalogue_sheet(const SoftwareCatalogue& catalogue, SheetWriter& out) {
    for (const char* title : {"Program", "Computers", "Version", "Version Computers"}) out.field(title);
    out.end_line();
    for (std::size_t row = 0; row < catalogue.size(); ++row) {
        const CatalogueProgram& program = catalogue.program_at(row);
        for (const CatalogueVersion& version : program.versions) {
            out.field(program.name);
            out.field(std::to_string(program.computers));
            out.field(std::string(version.text));
            out.field(std::to_string(version.computers));
            out.end_line();
        }
    }
    return out.finish();
}

bool write_program_computers_sheet(const Store& store, const SoftwareCatalogue& catalogue, std::size_t row,
                                   std::optional<std::size_t> version, SheetWriter& out) {
    for (const char* title : {"Computer Name", "MAC Address", "IP Address", "User", "Program", "Version"})
        out.field(title);
    out.end_line();
    const CatalogueProgram& program = catalogue.program_at(row);
    std::vector<std::pair<std::uint32_t, std::size_t>> lines;  // (record, version number)
    // Each computer with each of its versions of the program (or the one asked for).
    for (std::size_t v = 0; v < program.versions.size(); ++v) {
        if (version && v != *version) continue;
        for (const std::uint32_t i : catalogue.computers_of(row, v)) lines.emplace_back(i, v);
    }
    std::sort(lines.begin(), lines.end());
    for (const auto& [i, v] : lines) {
        const RecordView r = store.record(i);
        out.field(r.computer_name());
        out.field(format_mac(r.mac()));
        out.field(format_ipv4(r.ip_address()));
        out.field(r.last_user());
        out.field(program.name);
        out.field(std::string(program.versions[v].text));
        out.end_line();
    }
    return out.finish();
}

bool write_changes_sheet(const ChangesView& view, SheetWriter& out) {
    return write_columns_sheet<ChangeColumn>(view, change_column_count, change_column_info, out);
}

bool write_inventory_sheet(const Store& store, SheetWriter& out) {
    for (const char* title : {"Computer Name", "MAC Address", "Program", "Version"}) out.field(title);
    out.end_line();
    // Each computer's name and MAC text once; entries gathered per record
    // so that a computer's programs stand together.
    std::unordered_map<std::uint64_t, std::uint32_t, MacHash> record_of;
    record_of.reserve(store.record_count() * 2u);
    for (std::uint32_t i = 0; i < store.record_count(); ++i) {
        const RecordView r = store.record(i);
        if (!r.is_free()) record_of.emplace(mac_key(r.mac()), i);
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> lines;  // (record, entry number)
    lines.reserve(store.entry_count());
    for (std::uint32_t k = 0; k < store.entry_count(); ++k) {
        const std::uint64_t key = mac_key(store.entry(std::size_t(k) * sw_entry::size).bytes());
        if (key == 0) continue;
        const auto found = record_of.find(key);
        if (found != record_of.end()) lines.emplace_back(found->second, k);
    }
    std::sort(lines.begin(), lines.end());
    std::uint32_t current = ~std::uint32_t(0);
    std::string name, mac;
    for (const auto& [record, k] : lines) {
        if (record != current) {
            current = record;
            name = store.record(record).computer_name();
            mac = format_mac(store.record(record).mac());
        }
        const std::uint8_t* e = store.entry(std::size_t(k) * sw_entry::size).bytes();
        out.field(name);
        out.field(mac);
        out.field(reinterpret_cast<const char*>(e + sw_entry::display_name.offset),
                  text_length(e, sw_entry::display_name));
        out.field(reinterpret_cast<const char*>(e + sw_entry::display_version.offset),
                  text_length(e, sw_entry::display_version));
        out.end_line();
    }
    return out.finish();
}

bool write_sheet_file(const std::string& path, const std::function<bool(SheetWriter&)>& write) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    SheetWriter out([file](const char* bytes, std::size_t size) { return std::fwrite(bytes, 1, size, file) == size; });
    const bool written = write(out);
    return std::fclose(file) == 0 && written;
}

std::string sheet_failure_text(const std::string& path) {
    return "An error occurred while writing the file.\r\nFile = " + path;
}

std::string sheet_text(const std::function<bool(SheetWriter&)>& write) {
    std::string text;
    SheetWriter out([&](const char* bytes, std::size_t size) {
        text.append(bytes, size);
        return true;
    });
    write(out);
    return text;
}

}  // namespace tally
