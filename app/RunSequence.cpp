#include "app/RunSequence.h"

#include "app/Download.h"
#include "app/PageScan.h"
#include "app/Settings.h"
#include "app/Urls.h"
#include "net/Sockets.h"

void RunCrawl(CStr startUrl) {
  RunSettings& s = runSettings;
  SocketsStartup();
  CStr dir, file;
  int port = 80;
  SplitUrl(startUrl, s.startHost, dir, file, port);
  if (s.keyword == "." && s.filespec == "." && s.download) DownloadUrl(startUrl);
  ScanPage(startUrl, s.depth);
  if (s.stat) PrintCounters();
  SocketsCleanup();
}
