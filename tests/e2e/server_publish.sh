#!/bin/bash
# Publishing to the organisation's database: the real tallyhall.exe, through
# Wine's odbc32, unixODBC and the PostgreSQL driver, into a private PostgreSQL
# cluster. The settings dialog tests the connection at OK (a bad data source
# or a wrong password: the driver's message, the dialog stays open) and keeps
# the password sealed, which a restart reads back; a 300-computer fleet
# arrives whole (computers, facts, programs, change events); a report, a
# custom-field edit and a deletion each reach the database; the database
# stopped during a stream of reports and started again gets every change
# once; a second server (another site, directory, port and prefix) publishes
# into the same database without touching the first one's rows, and one query
# answers across both sites.
. "$(dirname "$0")/common.bash" server_publish
PG=$ROOT/tests/pg_cluster.sh
need "$PG"
PG_DIR=$(mktemp -d /tmp/tally-pg.XXXXXX)
AT_EXIT+=("bash '$PG' stop '$PG_DIR' >/dev/null 2>&1; rm -rf '$PG_DIR'")
PG_PORT=$(bash "$PG" start "$PG_DIR") && [ -n "$PG_PORT" ] || { echo "FAIL $TEST_NAME: no PostgreSQL cluster"; exit 1; }
db() { python3 "$HERE/publish_db.py" "$@"; }
# The first site's server signs in as "tally" with a password (the second one
# as "postgres", trusted); the password may hold the connection string's ';'.
PASSWORD='pa;ss}'
timeout 30 psql -h 127.0.0.1 -p "$PG_PORT" -U postgres -d inventory -X -q \
    -c "CREATE ROLE tally LOGIN SUPERUSER PASSWORD '$PASSWORD'" &&
    sed -i "1i host all tally 127.0.0.1/32 scram-sha-256" "$PG_DIR/data/pg_hba.conf" &&
    runuser -u postgres -- /usr/lib/postgresql/15/bin/pg_ctl -D "$PG_DIR/data" reload >/dev/null ||
    { echo "FAIL $TEST_NAME: cannot give the cluster a user with a password"; exit 1; }

# unixODBC's configuration for the programs under Wine: the driver of the
# programs' bitness and the data source "Inventory".
ODBC=$RUN/odbc
mkdir -p "$ODBC"
ODBC_LIB=/usr/lib/i386-linux-gnu/odbc
[ "$TALLY_WINE_MODE" = win64 ] && ODBC_LIB=/usr/lib/x86_64-linux-gnu/odbc
printf '[PostgreSQL Unicode]\nDriver=%s/psqlodbcw.so\n' "$ODBC_LIB" >"$ODBC/odbcinst.ini"
printf '[Inventory]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=%s\nDatabase=inventory\n' \
    "$PG_PORT" >"$ODBC/odbc.ini"  # no user: the connection strings name it
export ODBCSYSINI=$ODBC ODBCINI=$ODBC/odbc.ini

server_setup
SETTINGS="Audit Server Settings"
check "main window opens" start_server
# OK with a connection that fails: the driver's message, the dialog stays.
drv menu main IDM_SETTINGS \; wait-window "$SETTINGS" \; click "$SETTINGS" - IDC_SETTINGS_PUBLISH \; \
    set-text "$SETTINGS" - IDC_SETTINGS_PUBLISH_CONNECTION "DSN=NoSuchSource" \; \
    set-text "$SETTINGS" - IDC_SETTINGS_PUBLISH_SITE "NORTH" \; click "$SETTINGS" - IDC_SETTINGS_OK \; \
    box "Settings Error" IDOK 30000
check "a failed test connection shows the driver's message" grep -q '^Unable to connect to the database' <<<"$OUT"
check "the dialog stays open" drv sleep 300 \; wait-window "$SETTINGS" 2000
drv set-text "$SETTINGS" - IDC_SETTINGS_PUBLISH_CONNECTION "DSN=Inventory;UID=tally;PWD=wrong" \; \
    click "$SETTINGS" - IDC_SETTINGS_OK \; box "Settings Error" IDOK 30000
check "a wrong password is refused at OK" grep -q 'password authentication failed' <<<"$OUT"
# The password goes to the sealed value; the string is kept without it.
drv set-text "$SETTINGS" - IDC_SETTINGS_PUBLISH_CONNECTION "DSN=Inventory;UID=tally;PWD={pa;ss}}}" \; \
    click "$SETTINGS" - IDC_SETTINGS_OK \; wait-gone "$SETTINGS" 30000
check "OK connects and closes the dialog" test $? -eq 0
reg_value() { timeout 60 "$WINE" reg query 'HKLM\Software\Kestrin' /v "$1" 2>/dev/null | tr -d '\r' | awk -v v="$1" '$1 == v {print $3}'; }
check "the connection is stored without its password" same "DSN=Inventory;UID=tally" "$(reg_value Audit_PublishConnection)"
SEALED=$(reg_value Audit_PublishPassword)
check "the password is stored sealed" test -n "$SEALED"
check "never as plain text" not grep -qi "$(printf '%s' "$PASSWORD" | od -An -tx1 | tr -d ' \n')" <<<"$SEALED"
drv menu main IDM_SETTINGS \; wait-window "$SETTINGS" \; text "$SETTINGS" - IDC_SETTINGS_PUBLISH_CONNECTION \; \
    click "$SETTINGS" - IDC_SETTINGS_CANCEL \; wait-gone "$SETTINGS"
check "the dialog never shows the password again" same "DSN=Inventory;UID=tally" "$OUT"

python3 "$ROOT/tools/sample_fleet.py" "$PORT" 300 1
check "the fleet of 300 reaches the database: computers, facts, programs, events" db equal "$PG_PORT" NORTH "$DATA" 90
check "Server Stats shows nothing awaiting" drv wait-text main "Server Stats" IDC_STATS_AWAITING_PUBLISH 0 20000

# One report, one custom-field edit, one deletion.
db resend "$PORT" 1 7 1 "Report Tool" "2.0"
check "a report reaches the database" db equal "$PG_PORT" NORTH "$DATA" 20
select_system "$(db name 1 8)" \; set-text main General IDC_GEN_CUSTOM_FIELD_1 "Room 42" \; \
    click main General IDC_GEN_UPDATE_CUSTOM_FIELDS
check "a custom-field edit reaches the database" db equal "$PG_PORT" NORTH "$DATA" 20
drv menu main IDM_DELETE_RECORD \; box "Delete Record" IDYES
check "a deletion reaches the database" db equal "$PG_PORT" NORTH "$DATA" 20
# A restart reads the sealed password back and goes on publishing.
check "the server ends" stop_server
check "main window opens again" start_server
db resend "$PORT" 1 9 1 "Report Tool" "2.1"
check "after a restart a report reaches the database" db equal "$PG_PORT" NORTH "$DATA" 30

# The database stopped during a stream of reports, then started again.
status_away() {  # the status line names the outage with the driver's message (within 30 s)
    local i
    for i in $(seq 1 60); do
        drv text main - IDC_STATUS_LINE && [[ $OUT == "Cannot publish to the database: "?* ]] && return 0
        sleep 0.5
    done
    return 1
}
db resend "$PORT" 1 20 10 "Outage Tool" "1.0"
check "the database stops" bash "$PG" stop "$PG_DIR"
# An edit (no datagram overwrites the status line meanwhile), then a stream.
select_system "$(db name 1 12)" \; set-text main General IDC_GEN_CUSTOM_FIELD_2 "Stock" \; \
    click main General IDC_GEN_UPDATE_CUSTOM_FIELDS
check "the status line says the database is away" status_away
echo "     status line: $OUT"
db resend "$PORT" 1 30 40 "Outage Tool" "1.0"
drv sleep 1000 \; text main "Server Stats" IDC_STATS_AWAITING_PUBLISH
check "Server Stats shows what awaits publishing" test "$OUT" -gt 0 2>/dev/null
check "the database starts again on its port" same "$PG_PORT" "$(bash "$PG" start "$PG_DIR")"
db resend "$PORT" 1 71 10 "Outage Tool" "1.0"
check "every change arrives, nothing twice" db equal "$PG_PORT" NORTH "$DATA" 120

# A second server: site SOUTH, its own prefix, directory and port; the same
# MAC addresses as the first site's computers, some of them with the same
# program and version.
PFX_B=$RUN/pfx-south
DATA_B=$RUN/data-south
mkdir -p "$DATA_B"
cp -a "$_tally_template/pfx" "$PFX_B"
AT_EXIT+=("WINEPREFIX='$PFX_B' timeout 20 '$WINESERVER' -k >/dev/null 2>&1; WINEPREFIX='$PFX_B' timeout 20 '$WINESERVER' -w >/dev/null 2>&1")
PORT_B=$(free_udp_port_pair)
south() { WINEPREFIX=$PFX_B "$@"; }
south server_settings "$DATA_B" "$PORT_B"
south timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_Publish /t REG_BINARY /d 01 /f >/dev/null 2>&1
# A driver connection string this time, without a data source.
south timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PublishConnection /t REG_SZ \
    /d "DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=$PG_PORT;DATABASE=inventory;UID=postgres" /f >/dev/null 2>&1
south timeout 60 "$WINE" reg add 'HKLM\Software\Kestrin' /v Audit_PublishSite /t REG_SZ /d SOUTH /f >/dev/null 2>&1
(cd "$RUN" && WINEPREFIX=$PFX_B exec timeout 250 "$WINE" "$TALLY_BIN/tallyhall.exe" </dev/null >"$RUN/south.log" 2>&1) &
SOUTH_PID=$!
AT_EXIT+=("kill $SOUTH_PID 2>/dev/null")
check "the second server's window opens" south drv wait-window main 20000
python3 "$ROOT/tools/sample_fleet.py" "$PORT_B" 60 2
db resend "$PORT_B" 2 0 10 "Outage Tool" "1.0"
db resend "$PORT_B" 2 10 10 "Outage Tool" "0.9"
check "the second site reaches the database" db equal "$PG_PORT" SOUTH "$DATA_B" 60
check "the first site's rows are untouched" db equal "$PG_PORT" NORTH "$DATA" 30
HAVING=$(db having "$PG_PORT" "Outage Tool" "1.0")
check "one query answers for both sites" \
    same "$(db expect-having "Outage Tool" "1.0" NORTH "$DATA" SOUTH "$DATA_B")" "$HAVING"
check "the answer spans both sites" same "NORTH SOUTH" "$(cut -f1 <<<"$HAVING" | sort -u | paste -sd' ')"

check "the second server ends" south drv close main
check "the server ends" stop_server
finish
