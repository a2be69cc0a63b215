#!/bin/bash
# Exports live: "Output CSV" and "Export  Record" through their save dialogs
# write the expected files; "Print Record" with the dialog cancelled prints
# nothing and shows nothing; with a virtual PDF printer (when CUPS and
# cups-pdf are installed) the printout holds the report on as many pages as
# it needs.
. "$(dirname "$0")/reports_common.bash"
PORT=$(free_udp_port_pair)
CUPSD_PID=
PDF_DIRS="$HOME/PDF /var/spool/cups-pdf/ANONYMOUS"
if [ -x /usr/sbin/cupsd ] && [ -f /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd ] && ! pgrep -x cupsd >/dev/null; then
    # The printer must exist before the program starts: Wine lists printers when it loads.
    timeout 250 /usr/sbin/cupsd -f >/dev/null 2>&1 &
    CUPSD_PID=$!
    for i in $(seq 1 50); do timeout 5 lpstat -r >/dev/null 2>&1 && break; sleep 0.1; done
    timeout 20 lpadmin -p TallyPDF -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd >/dev/null 2>&1 &&
        timeout 20 lpoptions -d TallyPDF >/dev/null 2>&1 || { kill "$CUPSD_PID"; CUPSD_PID=; }
fi
printing_cleanup() {
    [ -n "$CUPSD_PID" ] || return 0
    timeout 20 lpadmin -x TallyPDF >/dev/null 2>&1
    kill "$CUPSD_PID" 2>/dev/null
}
trap 'reports_cleanup; printing_cleanup; true' EXIT
reports_setup "$PORT" 120
check "server starts" start_server

# --- CSV
driver rp-menu 40017 \; rp-save "Select Output File" "$(wine_path "$RUN/table")"
check "the save dialog takes the name" test $? -eq 0
check "the default extension is added" test -f "$RUN/table.csv"
cat >"$RUN/expected.csv" <<'CSV'


MAC Address, IP Address, Computer Name, CPUID Levels, CPUID Response, CPUID Code, Speed in Mhz, RAM Size in MB, Pagefile Size in MB, Up Time, Windows Major Version, Windows Minor Version, Windows Build, Video Width (Pixels),Video Height (Pixels), Last User, Asset Tag, Serial Number

00:0C:29:00:00:11, 10.0.0.17, PC-128, 2, GenuineIntel, 0F29, 2992.6, 128, 256, 25:01:01, 5, 1, 2600, 1024, 768, user17, , 
00:0C:29:00:00:12, 10.0.0.18, PC-256, 2, GenuineIntel, 0F29, 1000.0, 256, 512, 25:01:01, 5, 1, 2600, 1024, 768, user18, , 
00:0C:29:00:00:13, 10.0.0.19, PC-512, 2, GenuineIntel, 10676, 3000.0, 512, 1024, 25:01:01, 5, 1, 2600, 1024, 768, user19, , 
00:0C:29:00:00:14, 10.0.0.20, PC-1024, 2, GenuineIntel, 0F29, 2400.0, 1024, 2048, 25:01:01, 5, 1, 2600, 1024, 768, user20, , 
CSV
check "the banner is dated" grep -qE "^Kestrin's Vodirir Ozozu Output dated (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$" "$RUN/table.csv"
check "the CSV lines are as expected" cmp -s <(tail -n +2 "$RUN/table.csv") "$RUN/expected.csv"
check "the CSV has no carriage returns" test "$(tr -dc '\r' <"$RUN/table.csv" | wc -c)" -eq 0

# --- Report text file
driver rp-select-system PC-128 \; rp-wait-text General 1051 PC-128 \; rp-menu 40014 \; \
    rp-save "Choose file to export to" "$(wine_path "$RUN/report")"
check "the report is written with its default extension" test -f "$RUN/report.txt"
check "the report starts with the title line" grep -q "^System details for computer PC-128 as of " "$RUN/report.txt"
check "every line ends in one CR LF" python3 -c "
import sys; d = open(sys.argv[1], 'rb').read()
sys.exit(0 if d.endswith(b'\r\n') and d.count(b'\n') == d.count(b'\r\n') and b'\r\r' not in d else 1)" "$RUN/report.txt"
check "the network line" grep -q $'^MAC Address: 00:0C:29:00:00:11\tIP Address: 10.0.0.17\r$' "$RUN/report.txt"
check "the report ends with the programs" test "$(tail -n 3 "$RUN/report.txt" | tr -d '\r' | tr '\n' '|')" = "Installed Software:|Home Office Suite 2 (Version 11.0)|Zip Tool (Version 9)|"

# --- Printing, dialog cancelled
newest_pdf() { ls -t $PDF_DIRS 2>/dev/null | grep -c '\.pdf$'; }
PDFS_BEFORE=$(newest_pdf)
driver rp-menu 40012 \; rp-dialog-button Print 2
check "the print dialog opens and cancels" test $? -eq 0
driver sleep 1500 \; rp-windows
check "a cancelled print shows nothing" test "$(out)" = "(none)"
check "a cancelled print prints nothing" test "$(newest_pdf)" = "$PDFS_BEFORE"

# --- Printing to the PDF printer
pdf_count() { ls $PDF_DIRS 2>/dev/null | grep -c '\.pdf$'; }
# print_to_pdf COPIES: prints the selected record, waits for the PDF, puts its path in $PDF.
print_to_pdf() {
    local before i
    before=$(pdf_count)
    driver rp-menu 40012 \; rp-dialog-set-text Print 1154 "$1" \; rp-dialog-button Print 1 || return 1
    PDF=
    for i in $(seq 1 100); do
        if [ "$(pdf_count)" != "$before" ]; then
            PDF=$(ls -t $(for d in $PDF_DIRS; do echo "$d"/*.pdf; done) 2>/dev/null | head -n 1)
            sleep 1  # let the PDF be written out
            return 0
        fi
        sleep 0.2
    done
    return 1
}
if [ -n "$CUPSD_PID" ]; then
    driver rp-select-system PC-1024 \; rp-wait-text General 1051 PC-1024
    check "the report of PC-1024 prints to a PDF" print_to_pdf 1
    if [ -n "$PDF" ]; then
        timeout 20 pdftotext -layout "$PDF" "$RUN/print.txt"
        check "the printout has the title" grep -q "System details for computer PC-1024 as of" "$RUN/print.txt"
        check "the printout has the hardware lines" grep -q "CPUID Code: 0F29     CPUID Response: GenuineIntel" "$RUN/print.txt"
        check "wide lines continue instead of being cut" grep -q "Refresh Rate 60 Hz (NI)" "$RUN/print.txt"
        check "the printout lists every program" grep -q "Tool number 119 (Version 1.119)" "$RUN/print.txt"
        PAGES=$(timeout 20 pdfinfo "$PDF" 2>/dev/null | awk '/^Pages:/{print $2}')
        check "the long report runs over more than one page" test "${PAGES:-0}" -ge 2
        rm -f "$PDF"
        check "two copies print" print_to_pdf 2
        COPIES=$(timeout 20 pdfinfo "$PDF" 2>/dev/null | awk '/^Pages:/{print $2}')
        check "every copy prints every page ($PAGES pages, then $COPIES)" test "${COPIES:-0}" -eq $((2 * ${PAGES:-0}))
        rm -f "$PDF"
    fi
else
    echo "skip printing to PDF: no CUPS with cups-pdf here"
fi

stop_server
exit $FAILED
