#include "app/CrawlState.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS identity(line BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS scalar(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT "
    "ROWID;"
    "CREATE TABLE IF NOT EXISTS url(key BLOB PRIMARY KEY, page INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS file(key BLOB PRIMARY KEY) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS page(id INTEGER PRIMARY KEY, url BLOB NOT NULL,"
    " depth INTEGER NOT NULL, links BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS frame(level INTEGER PRIMARY KEY, url BLOB NOT NULL,"
    " depth INTEGER NOT NULL, pending_at INTEGER NOT NULL, left INTEGER NOT NULL,"
    " links BLOB NOT NULL);";

enum Which {
  kPageOfKey,
  kInsertKey,
  kAssignKey,
  kLoadPage,
  kStorePage,
  kPageDepth,
  kInsertFile,
  kHasFile,
  kDropFrames,
  kFrameLeft,
  kInsertFrame,
  kSetScalar,
  kCount,
};

constexpr const char* kStatements[kCount] = {
    "SELECT page FROM url WHERE key = ?1",
    "INSERT OR IGNORE INTO url(key, page) VALUES(?1, ?2)",
    "INSERT OR REPLACE INTO url(key, page) VALUES(?1, ?2)",
    "SELECT depth, url, links FROM page WHERE id = ?1",
    "INSERT OR REPLACE INTO page(id, url, depth, links) VALUES(?1, ?2, ?3, ?4)",
    "UPDATE page SET depth = ?2 WHERE id = ?1",
    "INSERT OR IGNORE INTO file(key) VALUES(?1)",
    "SELECT 1 FROM file WHERE key = ?1",
    "DELETE FROM frame WHERE level >= ?1",
    "UPDATE frame SET left = ?2 WHERE level = ?1",
    "INSERT INTO frame(level, url, depth, pending_at, left, links) VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
    "INSERT OR REPLACE INTO scalar(name, value) VALUES(?1, ?2)",
};

// The scalars by name, as the file keeps them.
struct ScalarField {
  const char* name;
  long long (*get)(const CrawlState::Scalars&);
  void (*set)(CrawlState::Scalars&, long long);
};

#define FERRET_SCALAR(name, member)                                                   \
  {                                                                                   \
    name, [](const CrawlState::Scalars& s) -> long long { return s.member; },         \
        [](CrawlState::Scalars& s, long long v) { s.member = decltype(s.member)(v); } \
  }
const ScalarField kScalars[] = {
    FERRET_SCALAR("saves", counts.saves),
    FERRET_SCALAR("prints", counts.prints),
    FERRET_SCALAR("hits", counts.hits),
    FERRET_SCALAR("http200", counts.http200),
    FERRET_SCALAR("errors", counts.errors),
    FERRET_SCALAR("refused", counts.refused),
    FERRET_SCALAR("started", started),
    FERRET_SCALAR("finished", finished),
    FERRET_SCALAR("page_limit_reported", pageLimitReported),
    FERRET_SCALAR("pending_limit_reported", pendingLimitReported),
    FERRET_SCALAR("start_save_failed", startSaveFailed),
    FERRET_SCALAR("pages_taken", pagesTaken),
    FERRET_SCALAR("start_line", startLine),
};
#undef FERRET_SCALAR

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_blob(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Runs statement to its end (or its first row, when one is wanted); true
// when a row came.
bool Step(sqlite3_stmt* statement) { return sqlite3_step(statement) == SQLITE_ROW; }

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const void* data = sqlite3_column_blob(statement, column);
  return std::string(static_cast<const char*>(data),
                     static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

std::shared_ptr<const PageLinks> ColumnLinks(sqlite3_stmt* statement, int column) {
  return std::make_shared<const PageLinks>(
      CrawlState::UnpackLinks(sqlite3_column_blob(statement, column),
                              static_cast<size_t>(sqlite3_column_bytes(statement, column))));
}

}  // namespace

std::unique_ptr<CrawlState> CrawlState::Open(const std::string& path, const std::string& identity,
                                             std::string* error, bool* foreign) {
  sqlite3* db = nullptr;
  int opened =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<CrawlState> state(new CrawlState(db));
  if (opened != SQLITE_OK) {
    *error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    return nullptr;
  }
  sqlite3_busy_timeout(db, 0);
  // The exclusive lock is taken by the first write and held until the file
  // is closed: one writer, and no shared-memory index beside the file. The
  // tables are made in a commit of the rollback journal, before the switch
  // to WAL: SQLite drops the WAL of a database file that is still empty, so
  // a file whose every commit were in its log would lose them all to a kill.
  if (!state->Exec("PRAGMA locking_mode=EXCLUSIVE; PRAGMA synchronous=FULL;"
                   " PRAGMA cache_size=-16384; BEGIN IMMEDIATE",
                   error) ||
      !state->Exec(kSchema, error) || !state->KeepIdentity(identity, error, foreign) ||
      !state->Exec("COMMIT; PRAGMA journal_mode=WAL; BEGIN IMMEDIATE", error) ||
      !state->Prepare(error)) {
    return nullptr;
  }
  state->LoadScalars();
  return state;
}

bool CrawlState::KeepIdentity(const std::string& identity, std::string* error, bool* foreign) {
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db, "SELECT line FROM identity", -1, &read, nullptr);
  bool known = Step(read);
  std::string kept = known ? ColumnText(read, 0) : std::string();
  sqlite3_finalize(read);
  if (known) {
    if (kept == identity) return true;
    *error = "it holds the state of another command line";
    if (foreign != nullptr) *foreign = true;
    return false;
  }
  sqlite3_stmt* write = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO identity(line) VALUES(?1)", -1, &write, nullptr);
  BindText(write, 1, identity);
  Step(write);
  sqlite3_finalize(write);
  return true;
}

CrawlState::~CrawlState() {
  for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
  sqlite3_close(db);  // the open step, never committed, is rolled back
}

bool CrawlState::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message != nullptr ? message : sqlite3_errmsg(db);
  // A file that is no database, or one another run holds, says so plainly.
  int code = sqlite3_errcode(db);
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) *error = "another run is using it";
  if (code == SQLITE_NOTADB) *error = "it is not a crawl state (SQLite) file";
  sqlite3_free(message);
  return false;
}

bool CrawlState::Prepare(std::string* error) {
  statements.assign(kCount, nullptr);
  for (int i = 0; i < kCount; ++i) {
    if (sqlite3_prepare_v3(db, kStatements[i], -1, SQLITE_PREPARE_PERSISTENT, &statements[i],
                           nullptr) != SQLITE_OK) {
      *error = sqlite3_errmsg(db);
      return false;
    }
  }
  sqlite3_stmt* most = nullptr;
  sqlite3_prepare_v2(db, "SELECT max((SELECT max(page) FROM url), (SELECT max(id) FROM page))", -1,
                     &most, nullptr);
  if (Step(most)) nextPage = sqlite3_column_int64(most, 0) + 1;
  sqlite3_finalize(most);
  return true;
}

sqlite3_stmt* CrawlState::Statement(int which) {
  sqlite3_stmt* statement = statements[which];
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return statement;
}

void CrawlState::LoadScalars() {
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db, "SELECT name, value FROM scalar", -1, &read, nullptr);
  while (Step(read)) {
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(read, 0));
    for (const ScalarField& field : kScalars) {
      if (std::strcmp(field.name, name) == 0) field.set(scalars, sqlite3_column_int64(read, 1));
    }
  }
  sqlite3_finalize(read);
}

long long CrawlState::PageOfKey(const std::string& key) {
  sqlite3_stmt* statement = Statement(kPageOfKey);
  BindText(statement, 1, key);
  return Step(statement) ? sqlite3_column_int64(statement, 0) : 0;
}

bool CrawlState::MeetKey(const std::string& key, long long page, long long* prior) {
  sqlite3_stmt* statement = Statement(kInsertKey);
  BindText(statement, 1, key);
  sqlite3_bind_int64(statement, 2, page);
  Step(statement);
  if (sqlite3_changes(db) == 1) return true;
  *prior = PageOfKey(key);
  return false;
}

void CrawlState::AssignKey(const std::string& key, long long page) {
  sqlite3_stmt* statement = Statement(kAssignKey);
  BindText(statement, 1, key);
  sqlite3_bind_int64(statement, 2, page);
  Step(statement);
}

CrawlState::Page CrawlState::LoadPage(long long id) {
  Page page;
  sqlite3_stmt* statement = Statement(kLoadPage);
  sqlite3_bind_int64(statement, 1, id);
  if (Step(statement)) {
    page.depth = sqlite3_column_int(statement, 0);
    page.url = ColumnText(statement, 1);
    page.links = ColumnLinks(statement, 2);
  }
  return page;
}

void CrawlState::StorePage(long long id, const Page& page) {
  sqlite3_stmt* statement = Statement(kStorePage);
  sqlite3_bind_int64(statement, 1, id);
  BindText(statement, 2, page.url);
  sqlite3_bind_int(statement, 3, page.depth);
  BindText(statement, 4, page.links ? PackLinks(*page.links) : std::string());
  Step(statement);
}

void CrawlState::SetPageDepth(long long id, int depth) {
  sqlite3_stmt* statement = Statement(kPageDepth);
  sqlite3_bind_int64(statement, 1, id);
  sqlite3_bind_int(statement, 2, depth);
  Step(statement);
}

bool CrawlState::InsertFile(const std::string& key) {
  sqlite3_stmt* statement = Statement(kInsertFile);
  BindText(statement, 1, key);
  Step(statement);
  return sqlite3_changes(db) == 1;
}

bool CrawlState::ContainsFile(const std::string& key) {
  sqlite3_stmt* statement = Statement(kHasFile);
  BindText(statement, 1, key);
  return Step(statement);
}

std::vector<CrawlState::Frame> CrawlState::LoadStack() {
  std::vector<Frame> frames;
  sqlite3_stmt* read = nullptr;
  sqlite3_prepare_v2(db, "SELECT url, depth, pending_at, left, links FROM frame ORDER BY level", -1,
                     &read, nullptr);
  while (Step(read)) {
    Frame frame;
    frame.url = ColumnText(read, 0);
    frame.depth = sqlite3_column_int(read, 1);
    frame.pendingAt = static_cast<size_t>(sqlite3_column_int64(read, 2));
    frame.left = static_cast<size_t>(sqlite3_column_int64(read, 3));
    frame.links = ColumnLinks(read, 4);
    frames.push_back(std::move(frame));
  }
  sqlite3_finalize(read);
  return frames;
}

void CrawlState::SaveStack(size_t keep, size_t topLeft, const std::vector<Frame>& above) {
  sqlite3_stmt* drop = Statement(kDropFrames);
  sqlite3_bind_int64(drop, 1, static_cast<sqlite3_int64>(keep));
  Step(drop);
  if (keep > 0) {
    sqlite3_stmt* left = Statement(kFrameLeft);
    sqlite3_bind_int64(left, 1, static_cast<sqlite3_int64>(keep - 1));
    sqlite3_bind_int64(left, 2, static_cast<sqlite3_int64>(topLeft));
    Step(left);
  }
  for (size_t i = 0; i < above.size(); ++i) {
    const Frame& frame = above[i];
    sqlite3_stmt* insert = Statement(kInsertFrame);
    sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(keep + i));
    BindText(insert, 2, frame.url);
    sqlite3_bind_int(insert, 3, frame.depth);
    sqlite3_bind_int64(insert, 4, static_cast<sqlite3_int64>(frame.pendingAt));
    sqlite3_bind_int64(insert, 5, static_cast<sqlite3_int64>(frame.left));
    BindText(insert, 6, PackLinks(*frame.links));
    Step(insert);
  }
}

bool CrawlState::Commit(const Scalars& saved, std::string* error) {
  for (const ScalarField& field : kScalars) {
    sqlite3_stmt* statement = Statement(kSetScalar);
    sqlite3_bind_text(statement, 1, field.name, -1, SQLITE_STATIC);
    sqlite3_bind_int64(statement, 2, field.get(saved));
    Step(statement);
  }
  if (!Exec("COMMIT", error)) return false;
  scalars = saved;
  return Exec("BEGIN IMMEDIATE", error);
}

bool CrawlState::Finish(std::string* error) {
  Scalars over = scalars;
  over.finished = true;
  return Commit(over, error);
}

// Each link as its flags, its source, then its text and a NUL.
std::string CrawlState::PackLinks(const PageLinks& links) {
  std::string packed;
  for (size_t i = 0; i < links.size(); ++i) {
    packed += static_cast<char>(links.Flags(i));
    packed += static_cast<char>(links.Source(i));
    packed.append(links[i]).push_back('\0');
  }
  return packed;
}

PageLinks CrawlState::UnpackLinks(const void* data, size_t size) {
  PageLinks links;
  const char* at = static_cast<const char*>(data);
  const char* end = at + size;
  while (end - at >= 3) {
    uint8_t flags = static_cast<uint8_t>(at[0]);
    uint8_t source = static_cast<uint8_t>(at[1]);
    const char* text = at + 2;
    size_t length = strnlen(text, static_cast<size_t>(end - text));
    links.Add(text, length, flags, source);
    at = text + length + 1;
  }
  links.Fit();
  return links;
}
