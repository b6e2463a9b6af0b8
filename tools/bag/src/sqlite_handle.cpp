#include "sqlite_handle.hpp"

#include <fmt/format.h>

#include "bag_io/bag_error.hpp"

namespace bag_io {

SqliteDatabase::SqliteDatabase(std::string path) : path_(std::move(path)) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  db_.reset(raw);  // sqlite hands out a handle even on failure; it must be closed
  if (rc != SQLITE_OK) {
    fail("opening the database");
  }
}

void SqliteDatabase::fail(const std::string& doing) const {
  const char* reason = db_ != nullptr ? sqlite3_errmsg(db_.get()) : "out of memory";
  throw BagError(path_, fmt::format("sqlite3 error {}: {}", doing, reason));
}

SqliteStatement::SqliteStatement(const SqliteDatabase& db, const std::string& sql)
    : db_(&db), sql_(sql) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr);
  statement_.reset(raw);
  if (rc != SQLITE_OK) {
    db.fail(fmt::format("preparing \"{}\"", sql_));
  }
}

bool SqliteStatement::step() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) {
    return true;
  }
  if (rc == SQLITE_DONE) {
    return false;
  }
  db_->fail(fmt::format("reading rows of \"{}\"", sql_));
}

std::int64_t SqliteStatement::integer(int column) const {
  return sqlite3_column_int64(statement_.get(), column);
}

std::string SqliteStatement::text(int column) const {
  const unsigned char* p = sqlite3_column_text(statement_.get(), column);
  const int n = sqlite3_column_bytes(statement_.get(), column);
  return p != nullptr ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
                      : std::string();
}

std::vector<std::uint8_t> SqliteStatement::blob(int column) const {
  const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement_.get(), column));
  const int n = sqlite3_column_bytes(statement_.get(), column);
  return p != nullptr ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
}

}  // namespace bag_io
