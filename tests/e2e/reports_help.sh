#!/bin/bash
# Help and About live: the help window shows the guide's six sections and
# keeps its box filling the window when resized; a second help window opens
# beside the first while the main window stays usable; the about box shows
# its picture and the "Email Me" and "Donate" buttons; closing the main
# window ends the server even while a help window is open.
. "$(dirname "$0")/common.bash" reports_help
server_setup
python3 "$HERE/packets.py" write "$DATA"
check "server starts" start_server || exit 1

drv menu main IDM_HELP \; help-text
HELP=$OUT
for title in "Setting Up The Server:" "Using The Client" "Program Usage" "Checking System Hardware" \
    "Checking For Installed Programs" "Troubleshooting"; do
    check "help has \"$title\"" grep -qx "$title" <<<"$HELP"
done
check "help sections are underlined" same 6 "$(grep -cx '=========================================' <<<"$HELP")"
drv resize-help 420 300 \; help-text
check "the help box follows a resize" same fills "$(tail -n 1 <<<"$OUT")"

# The main window keeps working behind the help window.
check "the main window stays usable with help open" \
    drv combo main Search IDC_SEARCH_ITEM_1 "RAM in MB" \; combo main Search IDC_SEARCH_OPERATOR_1 "<" \; \
    set-text main Search IDC_SEARCH_VALUE_1 300 \; click main Search IDC_SEARCH_SEARCH \; \
    wait-text main Search IDC_SEARCH_HITS "Search Returned 2 hits"
drv menu main IDM_HELP \; sleep 500 \; windows
check "a second help window opens beside the first" same 2 "$(grep -c '^\[\]$' <<<"$OUT")"

drv menu main IDM_ABOUT \; about
check "the about box has its picture and buttons" same "Email Me|Donate|picture" "$(joined)"
check "the about box closes" drv close "About Vodirir Ozozu Server"

drv close-help
check "both help windows close" same 2 "$OUT"

# Closing the main window ends the server also while a help window is open.
check "closing the main window with help open ends the server" stop_server
finish
