// The seam to the organisation's SQL database: one connection, statements as
// text, one transaction at a time, the driver's message when something
// failed. One implementation talks ODBC (the system's unixODBC natively,
// odbc32 on Windows); the publisher and the tests see only this interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tally {

// One row of a query's result: the columns as UTF-8 texts, NULL as empty.
using DatabaseRow = std::vector<std::string>;

class Database {
public:
    virtual ~Database() = default;
    // Connects with an ODBC connection string: a data source name
    // ("Inventory") or a driver connection string ("DRIVER={...};SERVER=...").
    // False with the driver's message in last_error() when it cannot.
    virtual bool connect(const std::string& connection_string) = 0;
    virtual void disconnect() = 0;
    virtual bool is_connected() const = 0;
    // Runs one statement; outside a transaction it commits at once.
    virtual bool execute(const std::string& sql) = 0;
    // Runs a query and returns every row of its result.
    virtual bool query(const std::string& sql, std::vector<DatabaseRow>& rows) = 0;
    // A transaction: the statements between begin and commit take effect
    // together or not at all.
    virtual bool begin() = 0;
    virtual bool commit() = 0;
    virtual void rollback() = 0;
    // The driver's diagnostic text of the last failure, on one line.
    virtual std::string last_error() const = 0;
};

// A database reached over ODBC, not yet connected.
std::unique_ptr<Database> make_odbc_database();

}  // namespace tally
