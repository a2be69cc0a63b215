#!/bin/bash
# Exports live: "Output CSV" and "Export  Record" through their save dialogs
# write the expected files; "Print Record" with the dialog cancelled prints
# nothing and shows nothing; to a virtual PDF printer (CUPS with cups-pdf,
# which tools/install-deps.sh installs) the printout holds the report on as
# many pages as it needs.
. "$(dirname "$0")/common.bash" reports_export
PDF_DIRS="$HOME/PDF /var/spool/cups-pdf/ANONYMOUS"
PDF=
printer_setup() {
    [ -x /usr/sbin/cupsd ] && [ -f /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd ] ||
        { echo "     CUPS or cups-pdf is not installed (tools/install-deps.sh installs them)"; return 1; }
    if ! pgrep -x cupsd >/dev/null; then
        timeout 250 /usr/sbin/cupsd -f >/dev/null 2>&1 &
        AT_EXIT+=("kill $! 2>/dev/null")
        local i
        for i in $(seq 1 50); do timeout 5 lpstat -r >/dev/null 2>&1 && break; sleep 0.1; done
    fi
    timeout 20 lpadmin -p TallyPDF -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd >/dev/null 2>&1 &&
        AT_EXIT+=("timeout 20 lpadmin -x TallyPDF >/dev/null 2>&1") &&
        timeout 20 lpoptions -d TallyPDF >/dev/null 2>&1
}
# The printer must exist before the program starts: Wine lists printers when it loads.
check "a PDF printer is set up" printer_setup
server_setup
python3 "$HERE/packets.py" write "$DATA" 120
check "server starts" start_server || exit 1
# save_as TITLE PATH: fills the save dialog's file name and saves.
save_as() { drv set-text "$1" - cmb13 "$(wine_path "$2")" \; click "$1" - IDOK \; wait-gone "$1"; }

# --- CSV
drv menu main IDM_OUTPUT_CSV
check "the save dialog takes the name" save_as "Select Output File" "$RUN/table"
check "the default extension is added" wait_file "$RUN/table.csv"
cat >"$RUN/expected.csv" <<'CSV'


MAC Address, IP Address, Computer Name, CPUID Levels, CPUID Response, CPUID Code, Speed in Mhz, RAM Size in MB, Pagefile Size in MB, Up Time, Windows Major Version, Windows Minor Version, Windows Build, Video Width (Pixels),Video Height (Pixels), Last User, Asset Tag, Serial Number

00:0C:29:00:00:11, 10.0.0.17, PC-128, 2, GenuineIntel, 0F29, 2992.6, 128, 256, 25:01:01, 5, 1, 2600, 1024, 768, user17, , 
00:0C:29:00:00:12, 10.0.0.18, PC-256, 2, GenuineIntel, 0F29, 1000.0, 256, 512, 25:01:01, 5, 1, 2600, 1024, 768, user18, , 
00:0C:29:00:00:13, 10.0.0.19, PC-512, 2, GenuineIntel, 10676, 3000.0, 512, 1024, 25:01:01, 5, 1, 2600, 1024, 768, user19, , 
00:0C:29:00:00:14, 10.0.0.20, PC-1024, 2, GenuineIntel, 0F29, 2400.0, 1024, 2048, 25:01:01, 5, 1, 2600, 1024, 768, user20, , 
CSV
check "the banner is dated" grep -qE "^Kestrin's Vodirir Ozozu Output dated (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$" "$RUN/table.csv"
check "the CSV lines are as expected" cmp -s <(tail -n +2 "$RUN/table.csv") "$RUN/expected.csv"
check "the CSV has no carriage returns" same 0 "$(tr -dc '\r' <"$RUN/table.csv" | wc -c)"

# --- Report text file
select_system PC-128 \; menu main IDM_EXPORT_RECORD
save_as "Choose file to export to" "$RUN/report"
check "the report is written with its default extension" wait_file "$RUN/report.txt"
check "the report starts with the title line" grep -q "^System details for computer PC-128 as of " "$RUN/report.txt"
check "every line ends in one CR LF" python3 -c "
import sys; d = open(sys.argv[1], 'rb').read()
sys.exit(0 if d.endswith(b'\r\n') and d.count(b'\n') == d.count(b'\r\n') and b'\r\r' not in d else 1)" "$RUN/report.txt"
check "the network line" grep -q $'^MAC Address: 00:0C:29:00:00:11\tIP Address: 10.0.0.17\r$' "$RUN/report.txt"
check "the report ends with the programs" same "Installed Software:|Home Office Suite 2 (Version 11.0)|Zip Tool (Version 9)" \
    "$(tail -n 3 "$RUN/report.txt" | tr -d '\r' | paste -sd'|')"

# --- Printing, dialog cancelled
pdf_count() { ls $PDF_DIRS 2>/dev/null | grep -c '\.pdf$'; }
PDFS_BEFORE=$(pdf_count)
check "the print dialog opens and cancels" drv menu main IDM_PRINT_RECORD \; click Print - IDCANCEL \; wait-gone Print
drv sleep 1500 \; windows
check "a cancelled print shows nothing" same "(none)" "$OUT"
check "a cancelled print prints nothing" same "$PDFS_BEFORE" "$(pdf_count)"

# --- Printing to the PDF printer
# print_to_pdf COPIES: prints the selected record, waits for the PDF, puts its path in $PDF.
print_to_pdf() {
    local before i
    before=$(pdf_count)
    PDF=
    drv menu main IDM_PRINT_RECORD \; set-text Print - edt3 "$1" \; click Print - IDOK \; wait-gone Print || return 1
    for i in $(seq 1 100); do
        if [ "$(pdf_count)" != "$before" ]; then
            PDF=$(ls -t $(for d in $PDF_DIRS; do echo "$d"/*.pdf; done) 2>/dev/null | head -n 1)
            sleep 1  # let the PDF be written out
            return 0
        fi
        sleep 0.2
    done
    echo "     no PDF appeared in $PDF_DIRS"
    return 1
}
pdf_pages() { timeout 20 pdfinfo "$1" 2>/dev/null | awk '/^Pages:/{print $2}'; }
select_system PC-1024
if check "the report of PC-1024 prints to a PDF" print_to_pdf 1; then
    # The text as words: where a line breaks depends on the printer's font.
    timeout 20 pdftotext "$PDF" - | tr -s ' \n' '  ' >"$RUN/print.txt"
    check "the printout has the title" grep -q "System details for computer PC-1024 as of" "$RUN/print.txt"
    check "the printout has the hardware lines" grep -q "CPUID Code: 0F29 CPUID Response: GenuineIntel" "$RUN/print.txt"
    check "wide lines continue instead of being cut" grep -q "Refresh Rate 60 Hz (NI)" "$RUN/print.txt"
    check "the printout lists every program" grep -q "Tool number 119 (Version 1.119)" "$RUN/print.txt"
    PAGES=$(pdf_pages "$PDF")
    check "the long report runs over more than one page ($PAGES)" test "${PAGES:-0}" -ge 2
    rm -f "$PDF"
    if check "two copies print" print_to_pdf 2; then
        COPIES=$(pdf_pages "$PDF")
        check "every copy prints every page ($PAGES pages, then $COPIES)" test "${COPIES:-0}" -eq $((2 * ${PAGES:-0}))
        rm -f "$PDF"
    fi
fi

stop_server
finish
