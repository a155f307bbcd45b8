// CrawlState: a crawl's state kept in an SQLite file (-state), so that the
// same command run again after an interruption goes on where it stopped.
//
// The file holds the command line it was made for (every argument but
// -state's pair), the stack of pages whose links are pending (each frame's
// URL, depth, links and how many are left), with -once the URLs met (key to
// page) with each page expanded (URL, depth, links) and the files saved or
// printed, the counters, and the crawl's few flags. Memory stays flat: only
// SQLite's bounded page cache holds any of it.
//
// One writer: the file is opened in WAL mode with an exclusive lock, so a
// second run on the same file is refused while the first holds it. Every
// change is made inside the open transaction; Commit makes the step durable
// (synchronous=FULL: a commit is on disk when it returns, so even a power
// cut loses no committed step; a kill at any moment leaves the file as of
// the last commit, which WAL's atomic commit guarantees) and opens the next.
// Closing without a commit rolls the open step back.
//
// Owned by the run; used from the crawl's own thread only.
#ifndef FERRET_APP_CRAWLSTATE_H_
#define FERRET_APP_CRAWLSTATE_H_

#include <memory>
#include <string>
#include <vector>

#include "app/Counters.h"
#include "app/PageLinks.h"

struct sqlite3;
struct sqlite3_stmt;

class CrawlState {
 public:
  // A page whose links are pending, as the stack keeps it.
  struct Frame {
    std::string url;  // that answered
    int depth = 0;
    size_t pendingAt = 0;
    size_t left = 0;  // the first `left` links are pending
    std::shared_ptr<const PageLinks> links;
  };
  // A page -once expanded.
  struct Page {
    int depth = -1;  // -1: met, never expanded
    std::string url;
    std::shared_ptr<const PageLinks> links;
  };
  // What the crawl keeps besides its stack and sets.
  struct Scalars {
    Counters counts;
    bool started = false;   // the start page's step is committed
    bool finished = false;  // the crawl is over
    bool pageLimitReported = false;
    bool pendingLimitReported = false;
    bool startSaveFailed = false;
    long pagesTaken = 0;  // -maxpages
    long startLine = 0;   // -i: the list's lines handled whole, by number
  };

  // The state in path for the command identity (made when the file is new);
  // null with *error set when it cannot be opened or was made for another
  // command line (then *foreign, when given, is set).
  static std::unique_ptr<CrawlState> Open(const std::string& path, const std::string& identity,
                                          std::string* error, bool* foreign = nullptr);
  ~CrawlState();
  CrawlState(const CrawlState&) = delete;
  CrawlState& operator=(const CrawlState&) = delete;

  const Scalars& Saved() const { return scalars; }

  // The URL set (-once): the page the URL of key belongs to, 0 for none.
  long long PageOfKey(const std::string& key);
  // Makes key belong to page; false, with *prior its page, when it belonged
  // to one already.
  bool MeetKey(const std::string& key, long long page, long long* prior);
  void AssignKey(const std::string& key, long long page);
  long long NewPage() { return nextPage++; }
  // A page of id that was never stored is met but not expanded.
  Page LoadPage(long long id);
  void StorePage(long long id, const Page& page);
  void SetPageDepth(long long id, int depth);

  // The files saved or printed (-once): true when key is new (it is from now on).
  bool InsertFile(const std::string& key);
  bool ContainsFile(const std::string& key);

  std::vector<Frame> LoadStack();
  // Writes the stack: the frames below keep stay as last written, but for
  // the left of frame keep - 1 (topLeft); above are the frames from keep up,
  // written anew.
  void SaveStack(size_t keep, size_t topLeft, const std::vector<Frame>& above);

  // Commits the open step with scalars, and opens the next. False, with
  // *error, when the file could not be written.
  bool Commit(const Scalars& saved, std::string* error);

  // Marks the crawl over, in a commit of its own.
  bool Finish(std::string* error);
  // Begins a crawl again from a state whose crawl is over: the counters,
  // the list's place and the flags start anew; the URLs met and files saved
  // stay (a round of a list, -i, asks for none of them again).
  bool NewRound(std::string* error) { return Commit(Scalars(), error); }

  // A step's links in the file's form, and back.
  static std::string PackLinks(const PageLinks& links);
  static PageLinks UnpackLinks(const void* data, size_t size);

 private:
  explicit CrawlState(sqlite3* db) : db(db) {}
  bool Prepare(std::string* error);
  // False, with *error, when the file was made for another identity; a new
  // file is made for this one.
  bool KeepIdentity(const std::string& identity, std::string* error, bool* foreign);
  bool Exec(const char* sql, std::string* error);
  sqlite3_stmt* Statement(int which);
  void LoadScalars();

  sqlite3* db;
  std::vector<sqlite3_stmt*> statements;
  Scalars scalars;
  long long nextPage = 1;
};

#endif  // FERRET_APP_CRAWLSTATE_H_
