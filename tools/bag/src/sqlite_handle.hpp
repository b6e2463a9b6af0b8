// RAII handles on a read-only sqlite3 database and its prepared statements. Every failure
// throws BagError naming the database file and sqlite's reason.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bag_io {

class SqliteDatabase {
 public:
  // Opens `path` read-only; it must exist.
  explicit SqliteDatabase(std::string path);

  const std::string& path() const { return path_; }
  sqlite3* get() const { return db_.get(); }
  [[noreturn]] void fail(const std::string& doing) const;

 private:
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
  };
  std::string path_;
  std::unique_ptr<sqlite3, Closer> db_;
};

class SqliteStatement {
 public:
  // The database must outlive the statement.
  SqliteStatement(const SqliteDatabase& db, const std::string& sql);

  // Advances to the next row; false when there are no more.
  bool step();
  std::int64_t integer(int column) const;
  std::string text(int column) const;
  std::vector<std::uint8_t> blob(int column) const;

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  const SqliteDatabase* db_;
  std::string sql_;
  std::unique_ptr<sqlite3_stmt, Finalizer> statement_;
};

}  // namespace bag_io
