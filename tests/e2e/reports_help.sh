#!/bin/bash
# Help and About live: the help window shows the guide's six sections and
# keeps its box filling the window when resized; a second help window opens
# beside the first while the main window stays usable; the about box shows
# its picture and the "Email Me" and "Donate" buttons; closing the main
# window ends the server even while a help window is open.
. "$(dirname "$0")/reports_common.bash"
PORT=$(free_udp_port_pair)
reports_setup "$PORT"
check "server starts" start_server

driver rp-menu 40011 \; rp-help-text
out >"$RUN/help"
for title in "Setting Up The Server:" "Using The Client" "Program Usage" "Checking System Hardware" \
    "Checking For Installed Programs" "Troubleshooting"; do
    check "help has \"$title\"" grep -qx "$title" "$RUN/help"
done
check "help sections are underlined" test "$(grep -cx '=========================================' "$RUN/help")" -eq 6
driver rp-resize-help 420 300 \; rp-help-text
check "the help box follows a resize" test "$(out | tail -n 1)" = "fills"

# The main window keeps working behind the help window.
driver rp-select Search 1065 "RAM in MB" \; rp-select Search 1066 "<" \; rp-set-text Search 1067 300 \; \
    rp-click Search 1078 \; rp-wait-text Search 1083 "Search Returned 2 hits"
check "the main window stays usable with help open" test $? -eq 0
driver rp-menu 40011 \; sleep 500 \; rp-windows
check "a second help window opens beside the first" test "$(out | grep -c '^\[\]$')" -eq 2

driver rp-menu 1007 \; rp-about
check "the about box has its picture and buttons" test "$(out | tr '\n' '|')" = "Email Me|Donate|picture|"
driver rp-close-window "About Vodirir Ozozu Server"
check "the about box closes" test $? -eq 0

driver rp-close-help
check "both help windows close" test "$(out)" = "2"

# Closing the main window ends the server also while a help window is open.
driver rp-menu 40011 \; sleep 500 \; rp-close-window "Kestrin's Vodirir Ozozu Server Version 1.35"
server_ended() {
    local i
    for i in $(seq 1 50); do
        kill -0 "$SERVER_PID" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}
check "closing the main window with help open ends the server" server_ended
SERVER_PID=
exit $FAILED
