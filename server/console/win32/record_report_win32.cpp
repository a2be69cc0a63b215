// "Export  Record" and "Print Record": the selected computer's report to a
// text file the user names, or to a printer the user chooses.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>

#include "server/console/win32/commands.h"
#include "server/console/win32/save_dialog_win32.h"
#include "server/reports/paginator.h"
#include "server/reports/record_report.h"

namespace tally {

namespace {

// Draws one page of the report at x = 0 of the device's printable area.
void draw_print_page(HDC dc, const PrintPage& page) {
    for (const PlacedLine& line : page)
        TextOutA(dc, 0, line.y, line.text.c_str(), static_cast<int>(line.text.size()));
}

}  // namespace

void export_record_report(HWND owner, const Store& store, History& history, std::uint32_t record,
                          Notifier& notifier) {
    if (!store.holds_computer(record)) return;
    char file_name[export_file_name_chars] = "";
    const SaveFilter filter = save_filter(text_filter_format);
    if (!ask_save_file(owner, filter.data(), "Choose file to export to", "txt", file_name, sizeof file_name))
        return;

    // The text already ends each line in CR LF: written as bytes.
    std::FILE* file = std::fopen(file_name, "wb");
    if (!file) {
        notifier.notify({"Error outputing record", "File Error", BoxOwner::main_window, false});
        return;
    }
    const std::string text = report_text(store, record, &history);
    // Result not checked: the export of this system reports no write failure.
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void print_record_report(HWND owner, const Store& store, History& history, std::uint32_t record) {
    if (!store.holds_computer(record)) return;
    PRINTDLGA pd{};
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = owner;
    pd.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_HIDEPRINTTOFILE;
    pd.nCopies = 1;
    pd.nFromPage = 1;
    pd.nToPage = 1;
    pd.nMinPage = 1;
    pd.nMaxPage = 1;
    const BOOL chosen = PrintDlgA(&pd);
    if (pd.hDevMode) GlobalFree(pd.hDevMode);
    if (pd.hDevNames) GlobalFree(pd.hDevNames);
    if (!chosen || !pd.hDC) return;

    const HDC dc = pd.hDC;
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    const int line_height = metrics.tmHeight + metrics.tmExternalLeading;
    // Lines wider than the printable area continue on the next line rather
    // than being cut off at its edge.
    const TextWidth width_of = [dc](const std::string& text) {
        SIZE extent{};
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        return static_cast<int>(extent.cx);
    };
    const std::vector<PrintLine> lines =
        wrap_lines(report_print_lines(store, record, &history), GetDeviceCaps(dc, HORZRES), width_of);
    const std::vector<PrintPage> pages = paginate(lines, line_height, GetDeviceCaps(dc, VERTRES));

    DOCINFOA doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = "Printing text";
    if (StartDocA(dc, &doc) > 0) {
        const int copies = pd.nCopies > 0 ? pd.nCopies : 1;
        for (int copy = 0; copy < copies; ++copy) {
            for (const PrintPage& page : pages) {
                StartPage(dc);
                draw_print_page(dc, page);
                EndPage(dc);
            }
        }
        EndDoc(dc);
    }
    DeleteDC(dc);
}

}  // namespace tally
