// Makes the empty scratch database that is installed beside the program,
// which opens it and never creates it.
//
// Its user_version is the format stamp: a user's working copy of the program
// folder takes a new scratch database from the install only when the stamps
// differ. Raise it whenever the scratch database made here changes.

#include <sqlite3.h>

#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  std::remove(argv[1]);
  sqlite3* db = nullptr;
  // A table made and dropped again writes the database header, so the file
  // is a database and not merely empty. Pages of 64 KB, the largest, make a
  // scratch table of a million rows a tenth quicker to fill, index, update
  // and read than the usual 4 KB; the page size is fixed once the header is.
  const char* const make =
      "PRAGMA page_size = 65536; CREATE TABLE made(x); DROP TABLE made; PRAGMA user_version = 2; VACUUM;";
  const bool made = sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
                    sqlite3_exec(db, make, nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!made) std::fprintf(stderr, "%s: %s\n", argv[1], sqlite3_errmsg(db));
  sqlite3_close(db);
  return made ? 0 : 1;
}
