// Spreadsheet exports: comma-separated files as RFC 4180 defines them (the
// header on the first line, no padding, a field quoted when it holds a
// comma, a double quote or a line break, quotes doubled, CRLF line ends).
// The Systems window's rows as shown, the software catalogue, one program's
// computers and the full software inventory. The main window's CSV export
// keeps its own format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/model/software_catalogue.h"
#include "server/model/systems_grid.h"
#include "server/store/store.h"

namespace tally {

// Builds lines field by field and hands the bytes to a sink in chunks of
// about 64 KB, so that a million-line file needs no million-line buffer.
class SheetWriter {
public:
    // The sink takes the next bytes; false stops the writing (a write error).
    using Sink = std::function<bool(const char* bytes, std::size_t size)>;
    explicit SheetWriter(Sink sink) : sink_(std::move(sink)) {}

    void field(const std::string& text);
    void field(const char* text, std::size_t size);
    void end_line();
    // Hands the rest to the sink; false when the sink failed at any point.
    bool finish();

private:
    void drain();
    Sink sink_;
    std::string buffer_;
    bool first_in_line_ = true;
    bool ok_ = true;
};

// The Systems window's shown rows, every column, in the shown order.
bool write_grid_sheet(const SystemsGrid& grid, SheetWriter& out);
// One line per program and version as shown: program, its computers,
// version, that version's computers.
bool write_catalogue_sheet(const SoftwareCatalogue& catalogue, SheetWriter& out);
// The computers with the program of catalogue row `row` (only those with
// version number `version` when given): one line per computer and version.
bool write_program_computers_sheet(const Store& store, const SoftwareCatalogue& catalogue, std::size_t row,
                                   std::optional<std::size_t> version, SheetWriter& out);
// Every program of every computer: computer name, MAC, program, version;
// computers in table order, each one's programs in table order.
bool write_inventory_sheet(const Store& store, SheetWriter& out);

// Writes a sheet into a new file at path (an existing one is replaced).
// False when the file cannot be created or written.
bool write_sheet_file(const std::string& path, const std::function<bool(SheetWriter&)>& write);
// The box shown when that fails, with the caption "File Error".
std::string sheet_failure_text(const std::string& path);
// A whole sheet as one text (tests and small exports).
std::string sheet_text(const std::function<bool(SheetWriter&)>& write);

}  // namespace tally
