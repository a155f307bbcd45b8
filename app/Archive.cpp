#include "app/Archive.h"

#include <chrono>
#include <vector>

#include "net/WarcRecord.h"

namespace {

// Text that stays on one line of the warcinfo block.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return text;
}

}  // namespace

std::unique_ptr<CrawlArchive> CrawlArchive::Open(const Options& options, std::string* error) {
  std::unique_ptr<WarcWriter> writer = WarcWriter::Open(options.warc, error);
  if (!writer) return nullptr;
  const std::string id = WarcRecordId();
  size_t slash = options.warc.rfind('/');
  std::string name = slash == std::string::npos ? options.warc : options.warc.substr(slash + 1);
  if (!writer->Write(
          {WarcinfoRecord(id, OneLine(name), "ferret/" FERRET_VERSION, OneLine(options.commandLine),
                          std::chrono::system_clock::now())})) {
    writer->Close();
    error->clear();  // the writer said why
    return nullptr;
  }
  return std::unique_ptr<CrawlArchive>(new CrawlArchive(std::move(writer), id));
}

bool CrawlArchive::Add(const Recordings& tried, const char* truncated) {
  std::vector<WarcRecord> records;
  for (size_t i = 0; i < tried.size(); ++i) {
    const RecordedExchange& exchange = tried[i];
    ExchangeFacts facts;
    facts.when = exchange.began;
    facts.warcinfoId = warcinfoId;
    // Only the last exchange of a try carries the body that was read.
    if (i + 1 == tried.size()) facts.truncated = truncated;
    for (WarcRecord& record : ExchangeRecords(exchange, facts))
      records.push_back(std::move(record));
  }
  return records.empty() || writer->Write(records);
}
