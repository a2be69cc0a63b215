#!/bin/bash
# The Search page live: a hardware search by "RAM in MB" ">" 256 lists
# exactly the matching systems with the hit count, "Clear" restores the full
# list and the page's start-up state, and a "Not Installed" software search
# lists the systems without a program.
. "$(dirname "$0")/common.bash" reports_search
server_setup
python3 "$HERE/packets.py" write "$DATA"
check "server starts" start_server || exit 1
# search ITEM OPERATOR VALUE HITS: the first hardware line, Search, the hit count.
search() {
    drv combo main Search IDC_SEARCH_ITEM_1 "$1" \; combo main Search IDC_SEARCH_OPERATOR_1 "$2" \; \
        set-text main Search IDC_SEARCH_VALUE_1 "$3" \; click main Search IDC_SEARCH_SEARCH \; \
        wait-text main Search IDC_SEARCH_HITS "Search Returned $4 hits"
}

check "all four systems listed at start" drv wait-text main Search IDC_SEARCH_HITS "Search Returned 4 hits"
drv combo-items main Search IDC_SEARCH_ITEM_1
check "item list sorted" same "Bits per Pixel|CPU Family|CPU Speed (Mhz)|Free Disk Space|Pagefile in MB|Product Type|RAM in MB|Refresh Rate|Total Disk Space|Windows Build|Windows Major Version|Windows Minor Version|selected -1" "$(joined)"
drv combo-items main Search IDC_SEARCH_OPERATOR_1
check "operator list in its order" same "=|<|>|!=|selected 0" "$(joined)"

check "RAM > 256 shows two hits" search "RAM in MB" ">" 256 2
check "RAM > 256 lists PC-1024 and PC-512" same "PC-1024 PC-512" "$(systems)"

check "Clear shows all four again" drv click main Search IDC_SEARCH_CLEAR \; \
    wait-text main Search IDC_SEARCH_HITS "Search Returned 4 hits"
check "Clear lists every system" same "PC-1024 PC-128 PC-256 PC-512" "$(systems)"
drv text main Search IDC_SEARCH_ITEM_1 \; text main Search IDC_SEARCH_CONNECTOR_1 \; \
    text main Search IDC_SEARCH_VALUE_1 \; text main Search IDC_SEARCH_OPERATOR_1 \; \
    text main Search IDC_SEARCH_OPERATOR_2 \; text main Search IDC_SEARCH_OPERATOR_3 \; \
    text main Search IDC_SEARCH_SOFTWARE_MODE_1 \; text main Search IDC_SEARCH_SOFTWARE_MODE_2
check "Clear restores the start-up state" same "|||=|=|=|Installed|Installed" "$(joined)"

check "Not Installed office shows two hits" \
    drv combo main Search IDC_SEARCH_SOFTWARE_MODE_1 "Not Installed" \; \
    set-text main Search IDC_SEARCH_SOFTWARE_TEXT_1 office \; click main Search IDC_SEARCH_SEARCH \; \
    wait-text main Search IDC_SEARCH_HITS "Search Returned 2 hits"
check "Not Installed office lists PC-1024 and PC-256" same "PC-1024 PC-256" "$(systems)"

# Hardware and software together: RAM > 256 and office not installed.
search "RAM in MB" ">" 256 1
check "hardware and software searches combine" same "PC-1024" "$(systems)"
finish
