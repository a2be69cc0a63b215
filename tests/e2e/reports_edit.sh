#!/bin/bash
# Record editing live: custom fields typed on the General page are stored in
# Hardware.Audit and shown again after a restart; "Delete Record" answered
# No changes nothing, answered Yes frees the record and its programs in both
# files and drops it from the list.
. "$(dirname "$0")/reports_common.bash"
PORT=$(free_udp_port_pair)
reports_setup "$PORT"
FIXTURE="$REPO/tests/e2e/reports_fixture.py"
record() { python3 "$FIXTURE" record "$DATA" "$1"; }
LONG="North wing, room 12, second desk"

check "server starts" start_server
driver rp-select-system PC-256 \; rp-wait-text General 1051 PC-256
check "PC-256 selected" test $? -eq 0
driver rp-set-text General 1091 "$LONG" \; rp-set-text General 1092 "spare" \; \
    rp-set-text General 1089 "SN-77" \; rp-set-text General 1090 "AT-5" \; rp-click General 1095 \; sleep 300
record 1 >"$RUN/rec1"
check "custom field 1 stored as its first 24 characters" grep -qx "custom1=${LONG:0:24}" "$RUN/rec1"
check "custom field 2, serial number and asset tag stored" \
    test "$(grep -E '^(custom2|serial|asset)=' "$RUN/rec1" | tr '\n' ' ')" = "custom2=spare serial=SN-77 asset=AT-5 "
check "the file keeps its length" grep -qx "size=3232" "$RUN/rec1"
stop_server

check "server starts again" start_server
driver rp-select-system PC-256 \; rp-wait-text General 1051 PC-256 \; rp-text General 1091 \; rp-text General 1089
check "the fields survive a restart" test "$(out | tr '\n' '|')" = "${LONG:0:24}|SN-77|"

cp "$DATA/Hardware.Audit" "$RUN/hw.before"; cp "$DATA/Software.Audit" "$RUN/sw.before"
driver rp-select-system PC-512 \; rp-wait-text General 1051 PC-512 \; rp-menu 40013 \; box "Delete Record" 7
check "the confirmation names the MAC" test "$(out)" = "Are you sure you wish to delete 00:0C:29:00:00:13 from the database?"
driver sleep 300 \; rp-list
check "No keeps the list" test "$(out | sort | tr '\n' ' ')" = "PC-1024 PC-128 PC-256 PC-512 "
check "No keeps Hardware.Audit" cmp -s "$RUN/hw.before" "$DATA/Hardware.Audit"
check "No keeps Software.Audit" cmp -s "$RUN/sw.before" "$DATA/Software.Audit"

driver rp-menu 40013 \; box "Delete Record" 6 \; rp-wait-text Search 1083 "Search Returned 3 hits"
check "Yes drops the system from the list" test $? -eq 0
driver rp-list
check "the other systems stay" test "$(out | sort | tr '\n' ' ')" = "PC-1024 PC-128 PC-256 "
record 2 >"$RUN/rec2"
check "the record is 808 zero bytes in place" test "$(grep -E '^(size|zero)=' "$RUN/rec2" | tr '\n' ' ')" = "size=3232 zero=1 "
python3 "$FIXTURE" entries "$DATA" >"$RUN/entries"
check "its programs are freed in place" \
    test "$(tr '\n' '|' <"$RUN/entries")" = "size=510|00:0C:29:00:00:11 Home Office Suite 2|00:0C:29:00:00:11 Zip Tool|00:0C:29:00:00:12 Editor Pro|00:00:00:00:00:00 Office Viewer|00:00:00:00:00:00 Player|"
stop_server

check "server starts after the deletion" start_server
driver rp-wait-text Search 1083 "Search Returned 3 hits"
check "the deleted system stays away after a restart" test $? -eq 0
stop_server
exit $FAILED
