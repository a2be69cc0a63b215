#!/bin/bash
# Record editing live: custom fields typed on the General page are stored in
# Hardware.Audit and shown again after a restart; "Delete Record" answered
# No changes nothing, answered Yes frees the record and its programs in both
# files and drops it from the list.
. "$(dirname "$0")/common.bash" reports_edit
server_setup
python3 "$HERE/packets.py" write "$DATA"
record() { python3 "$HERE/packets.py" record "$DATA" "$1"; }
LONG="North wing, room 12, second desk"

check "server starts" start_server || exit 1
check "PC-256 selected" select_system PC-256
drv set-text main General IDC_GEN_CUSTOM_FIELD_1 "$LONG" \; set-text main General IDC_GEN_CUSTOM_FIELD_2 "spare" \; \
    set-text main General IDC_GEN_SERIAL_NUMBER "SN-77" \; set-text main General IDC_GEN_ASSET_TAG "AT-5" \; \
    click main General IDC_GEN_UPDATE_CUSTOM_FIELDS \; sleep 300
record 1 >"$RUN/rec1"
check "custom field 1 stored as its first 24 characters" grep -qx "custom1=${LONG:0:24}" "$RUN/rec1"
check "custom field 2, serial number and asset tag stored" \
    same "custom2=spare serial=SN-77 asset=AT-5" "$(grep -E '^(custom2|serial|asset)=' "$RUN/rec1" | paste -sd' ')"
check "the file keeps its length" grep -qx "size=3232" "$RUN/rec1"
stop_server

check "server starts again" start_server || exit 1
select_system PC-256 \; text main General IDC_GEN_CUSTOM_FIELD_1 \; text main General IDC_GEN_SERIAL_NUMBER
check "the fields survive a restart" same "${LONG:0:24}|SN-77" "$(joined)"

cp "$DATA/Hardware.Audit" "$RUN/hw.before"; cp "$DATA/Software.Audit" "$RUN/sw.before"
select_system PC-512 \; menu main IDM_DELETE_RECORD \; box "Delete Record" IDNO
check "the confirmation names the MAC" same "Are you sure you wish to delete 00:0C:29:00:00:13 from the database?" "$OUT"
sleep 0.3
check "No keeps the list" same "PC-1024 PC-128 PC-256 PC-512" "$(systems)"
check "No keeps Hardware.Audit" cmp -s "$RUN/hw.before" "$DATA/Hardware.Audit"
check "No keeps Software.Audit" cmp -s "$RUN/sw.before" "$DATA/Software.Audit"

check "Yes drops the system from the list" drv menu main IDM_DELETE_RECORD \; box "Delete Record" IDYES \; \
    wait-text main Search IDC_SEARCH_HITS "Search Returned 3 hits"
check "the other systems stay" same "PC-1024 PC-128 PC-256" "$(systems)"
check "the record is 808 zero bytes in place" same "size=3232 zero=1" "$(record 2 | grep -E '^(size|zero)=' | paste -sd' ')"
check "its programs are freed in place" \
    same "size=510|00:0C:29:00:00:11 Home Office Suite 2|00:0C:29:00:00:11 Zip Tool|00:0C:29:00:00:12 Editor Pro|00:00:00:00:00:00 Office Viewer|00:00:00:00:00:00 Player" \
    "$(python3 "$HERE/packets.py" entries "$DATA" | paste -sd'|')"
stop_server

check "server starts after the deletion" start_server || exit 1
check "the deleted system stays away after a restart" drv wait-text main Search IDC_SEARCH_HITS "Search Returned 3 hits"
stop_server
finish
