// The database seam over ODBC: the same code natively (unixODBC) and in the
// Windows programs (odbc32). Only the plain ANSI entry points are called
// (SQLDriverConnect, SQLExecDirect, SQLGetDiagRec): Wine's odbc32 has no
// "...A" names. Statements the publisher builds are plain ASCII, so no
// code page lies between them and the database; results are read as UTF-16
// and handed on as UTF-8.
#ifdef _WIN32
#include <windows.h>  // sql.h needs the Windows types
#endif
#include <sql.h>
#include <sqlext.h>

#include "server/publish/database.h"
#include "server/publish/sql_text.h"

namespace tally {
namespace {

constexpr SQLULEN login_timeout_seconds = 10;
// A statement that takes longer than this is given up (a hung server must
// not hold the worker, nor the server's shutdown, for ever).
constexpr SQLULEN query_timeout_seconds = 30;

bool succeeded(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

class OdbcDatabase : public Database {
public:
    ~OdbcDatabase() override { disconnect(); }
    bool connect(const std::string& connection_string) override;
    void disconnect() override;
    bool is_connected() const override { return connected_; }
    bool execute(const std::string& sql) override;
    bool query(const std::string& sql, std::vector<DatabaseRow>& rows) override;
    bool begin() override;
    bool commit() override;
    void rollback() override;
    std::string last_error() const override { return error_; }

private:
    // Keeps the diagnostic records of `handle` as the last error.
    void take_error(SQLSMALLINT type, SQLHANDLE handle, const char* what);
    bool run(const std::string& sql);
    bool read_column(SQLUSMALLINT column, std::string& out);
    bool set_autocommit(bool on);

    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
    bool connected_ = false;
    std::string error_;
};

void OdbcDatabase::take_error(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    std::string text;
    for (SQLSMALLINT k = 1; k <= 4; ++k) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        if (!succeeded(SQLGetDiagRec(type, handle, k, state, &native, message, sizeof message, &length))) break;
        if (!text.empty()) text += "; ";
        text += reinterpret_cast<const char*>(message);
    }
    error_ = one_line(text.empty() ? std::string(what) + " failed" : text);
}

bool OdbcDatabase::connect(const std::string& connection_string) {
    disconnect();
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
        env_ = SQL_NULL_HENV;
        error_ = "The ODBC driver manager cannot be used";
        return false;
    }
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
        take_error(SQL_HANDLE_ENV, env_, "SQLAllocHandle");
        disconnect();
        return false;
    }
    // result not checked: a driver without a login time-out still connects
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(login_timeout_seconds), 0);
    std::string text = connection_string.find('=') == std::string::npos ? "DSN=" + connection_string : connection_string;
    SQLCHAR out[1024];
    SQLSMALLINT out_length = 0;
    const SQLRETURN r = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(&text[0]),
                                         static_cast<SQLSMALLINT>(text.size()), out, sizeof out, &out_length,
                                         SQL_DRIVER_NOPROMPT);
    if (!succeeded(r)) {
        take_error(SQL_HANDLE_DBC, dbc_, "SQLDriverConnect");
        disconnect();
        return false;
    }
    connected_ = true;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_))) {
        take_error(SQL_HANDLE_DBC, dbc_, "SQLAllocHandle");
        disconnect();
        return false;
    }
    // The statements carry no ODBC escape sequences: the driver need not look for them.
    SQLSetStmtAttr(stmt_, SQL_ATTR_NOSCAN, reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(query_timeout_seconds), 0);
    error_.clear();
    return true;
}

void OdbcDatabase::disconnect() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = SQL_NULL_HSTMT;
    if (dbc_ != SQL_NULL_HDBC) {
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
    dbc_ = SQL_NULL_HDBC;
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
    env_ = SQL_NULL_HENV;
    connected_ = false;
}

bool OdbcDatabase::run(const std::string& sql) {
    if (!connected_) {
        error_ = "Not connected";
        return false;
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    std::string text = sql;
    const SQLRETURN r = SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(&text[0]), static_cast<SQLINTEGER>(text.size()));
    // A searched DELETE or UPDATE that meets no row answers "no data".
    if (succeeded(r) || r == SQL_NO_DATA) return true;
    take_error(SQL_HANDLE_STMT, stmt_, "SQLExecDirect");
    return false;
}

bool OdbcDatabase::execute(const std::string& sql) {
    const bool ok = run(sql);
    if (connected_) SQLFreeStmt(stmt_, SQL_CLOSE);
    return ok;
}

bool OdbcDatabase::read_column(SQLUSMALLINT column, std::string& out) {
    std::u16string text;
    SQLWCHAR part[512];
    for (;;) {
        SQLLEN length = 0;
        const SQLRETURN r = SQLGetData(stmt_, column, SQL_C_WCHAR, part, sizeof part, &length);
        if (r == SQL_NO_DATA) break;
        if (!succeeded(r)) {
            take_error(SQL_HANDLE_STMT, stmt_, "SQLGetData");
            return false;
        }
        if (length == SQL_NULL_DATA) break;
        const std::size_t room = sizeof part / sizeof part[0] - 1;
        const std::size_t got =
            (length == SQL_NO_TOTAL || std::size_t(length) / sizeof(SQLWCHAR) > room) ? room : std::size_t(length) / sizeof(SQLWCHAR);
        for (std::size_t k = 0; k < got; ++k) text.push_back(static_cast<char16_t>(part[k]));
        if (r == SQL_SUCCESS) break;  // SQL_SUCCESS_WITH_INFO: more of the column follows
    }
    out = utf16_to_utf8(text);
    return true;
}

bool OdbcDatabase::query(const std::string& sql, std::vector<DatabaseRow>& rows) {
    rows.clear();
    if (!run(sql)) return false;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt_, &columns);
    bool ok = true;
    for (;;) {
        const SQLRETURN r = SQLFetch(stmt_);
        if (r == SQL_NO_DATA) break;
        if (!succeeded(r)) {
            take_error(SQL_HANDLE_STMT, stmt_, "SQLFetch");
            ok = false;
            break;
        }
        DatabaseRow row(static_cast<std::size_t>(columns));
        for (SQLSMALLINT c = 0; ok && c < columns; ++c) ok = read_column(static_cast<SQLUSMALLINT>(c + 1), row[c]);
        if (!ok) break;
        rows.push_back(std::move(row));
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return ok;
}

bool OdbcDatabase::set_autocommit(bool on) {
    if (!connected_) {
        error_ = "Not connected";
        return false;
    }
    const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    if (succeeded(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0))) return true;
    take_error(SQL_HANDLE_DBC, dbc_, "SQLSetConnectAttr");
    return false;
}

bool OdbcDatabase::begin() { return set_autocommit(false); }

bool OdbcDatabase::commit() {
    if (!connected_) {
        error_ = "Not connected";
        return false;
    }
    if (!succeeded(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) {
        take_error(SQL_HANDLE_DBC, dbc_, "SQLEndTran");
        return false;
    }
    return set_autocommit(true);
}

void OdbcDatabase::rollback() {
    if (!connected_) return;
    // result not checked: after a lost connection there is nothing to roll back
    SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    set_autocommit(true);
}

}  // namespace

std::unique_ptr<Database> make_odbc_database() { return std::make_unique<OdbcDatabase>(); }

}  // namespace tally
