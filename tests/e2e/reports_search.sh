#!/bin/bash
# The Search page live: a hardware search by "RAM in MB" ">" 256 lists
# exactly the matching systems with the hit count, "Clear" restores the full
# list and the page's start-up state, and a "Not Installed" software search
# lists the systems without a program.
. "$(dirname "$0")/reports_common.bash"
PORT=$(free_udp_port_pair)
reports_setup "$PORT"
check "server starts" start_server

sorted_list() { out | sort | tr '\n' ' '; }

driver rp-wait-text Search 1083 "Search Returned 4 hits"
check "all four systems listed at start" test $? -eq 0
driver rp-entries Search 1065
check "item list sorted" test "$(out | tr '\n' '|')" = "Bits per Pixel|CPU Family|CPU Speed (Mhz)|Free Disk Space|RAM in MB|Refresh Rate|Total Disk Space|Windows Build|Windows Major Version|Windows Minor Version|"
driver rp-entries Search 1066
check "operator list in its order" test "$(out | tr '\n' '|')" = "=|<|>|!=|"

driver rp-select Search 1065 "RAM in MB" \; rp-select Search 1066 ">" \; rp-set-text Search 1067 256 \; \
    rp-click Search 1078 \; rp-wait-text Search 1083 "Search Returned 2 hits"
check "RAM > 256 shows two hits" test $? -eq 0
driver rp-list
check "RAM > 256 lists PC-1024 and PC-512" test "$(sorted_list)" = "PC-1024 PC-512 "

driver rp-click Search 1079 \; rp-wait-text Search 1083 "Search Returned 4 hits"
check "Clear shows all four again" test $? -eq 0
driver rp-list
check "Clear lists every system" test "$(sorted_list)" = "PC-1024 PC-128 PC-256 PC-512 "
driver rp-text Search 1066 \; rp-text Search 1069 \; rp-text Search 1072 \; rp-text Search 1080 \; \
    rp-text Search 1081 \; rp-text Search 1065 \; rp-text Search 1076 \; rp-text Search 1067
check "Clear restores the start-up state" test "$(out | tr '\n' '|')" = "=|=|=|Installed|Installed||||"

driver rp-select Search 1080 "Not Installed" \; rp-set-text Search 1074 office \; rp-click Search 1078 \; \
    rp-wait-text Search 1083 "Search Returned 2 hits"
check "Not Installed office shows two hits" test $? -eq 0
driver rp-list
check "Not Installed office lists PC-1024 and PC-256" test "$(sorted_list)" = "PC-1024 PC-256 "

# Hardware and software together: RAM > 256 and office not installed.
driver rp-select Search 1065 "RAM in MB" \; rp-select Search 1066 ">" \; rp-set-text Search 1067 256 \; \
    rp-click Search 1078 \; rp-wait-text Search 1083 "Search Returned 1 hits"
driver rp-list
check "hardware and software searches combine" test "$(sorted_list)" = "PC-1024 "

stop_server
exit $FAILED
