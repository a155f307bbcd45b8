// End-to-end crawls of the built ferret binary against a real nginx serving
// the bundled sample site on a free loopback port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/Files.h"
#include "tests/common/Subprocess.h"

namespace {

const std::string kSite = std::string(FERRET_SOURCE_DIR) + "/examples/site";

std::string FindNginx() {
  for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

// A port on 127.0.0.1 that was free a moment ago.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

bool Answers(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// nginx in the foreground as a child of the test, with every file it writes
// kept in a temporary directory. Stopped (and waited for) on destruction.
class Nginx {
 public:
  bool Start(const std::string& binary, const std::string& root) {
    if (dir.empty()) return false;
    for (int attempt = 0; attempt < 5 && pid <= 0; ++attempt) {
      port = FreePort();
      WriteConfig(root);
      pid = fork();
      if (pid == 0) {
        execl(binary.c_str(), binary.c_str(), "-p", dir.c_str(), "-c",
              (dir + "/nginx.conf").c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      if (!WaitUntilAnswering()) Stop();
    }
    return pid > 0;
  }
  void Stop() {
    if (pid > 0) {
      kill(pid, SIGQUIT);
      int status;
      waitpid(pid, &status, 0);
      pid = -1;
    }
  }
  ~Nginx() { Stop(); }
  int Port() const { return port; }
  std::string Log() const { return ReadFile(dir + "/error.log"); }

 private:
  void WriteConfig(const std::string& root) {
    std::ofstream conf(dir + "/nginx.conf");
    conf << "daemon off;\nmaster_process on;\nworker_processes 1;\n"
         << (geteuid() == 0 ? "user root;\n" : "") << "pid " << dir << "/nginx.pid;\n"
         << "error_log " << dir << "/error.log;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "  access_log " << dir << "/access.log;\n"
         << "  client_body_temp_path " << dir << "/body;\n"
         << "  proxy_temp_path " << dir << "/proxy;\n"
         << "  fastcgi_temp_path " << dir << "/fastcgi;\n"
         << "  uwsgi_temp_path " << dir << "/uwsgi;\n"
         << "  scgi_temp_path " << dir << "/scgi;\n"
         << "  types { text/html html; text/css css; text/plain txt; text/csv csv;\n"
         << "          image/png png; image/gif gif; application/zip zip; }\n"
         << "  default_type application/octet-stream;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port << ";\n"
         << "    root " << root << ";\n"
         << "    index index.html;\n"
         << "  }\n"
         << "}\n";
  }
  bool WaitUntilAnswering() {
    for (int i = 0; i < 200; ++i) {
      if (Answers(port)) return true;
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  TempDir scratch{"ferret-nginx"};
  const std::string& dir = scratch.Path();
  pid_t pid = -1;
  int port = -1;
};

class NginxCrawlTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string binary = FindNginx();
    if (binary.empty()) GTEST_SKIP() << "nginx is not installed (apt-get install nginx-light)";
    ASSERT_TRUE(nginx.Start(binary, kSite)) << nginx.Log();
    host = "127.0.0.1:" + std::to_string(nginx.Port());
    ASSERT_FALSE(workDir.empty());
  }
  ProcessResult Crawl(std::vector<std::string> args) {
    args.insert(args.begin(), FERRET_BINARY);
    ProcessResult r = RunProcess(args, workDir, 300);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    return r;
  }

  Nginx nginx;
  std::string host;
  TempDir scratch{"ferret-saved"};
  const std::string& workDir = scratch.Path();
};

TEST_F(NginxCrawlTest, KeywordCrawlWithDepth) {
  ProcessResult r = Crawl({"http://" + host + "/", "-k", "polecat", "-d", "2", "-print", "-stat"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{host + "/gallery/", host + "/docs/mustelids.html",
                                      host + "/news/autumn-walk.html",
                                      "Saves(0) Prints(3) Hits(28) HTTP 200(100%) Errors(0)"}));
}

TEST_F(NginxCrawlTest, FileCrawlSavesTheServedBytes) {
  ProcessResult r = Crawl(
      {"http://" + host + "/", "-f", "\\.(gif|png|zip|txt)", "-download", "-create", "-stat"});
  const std::vector<std::string> saved = {"images/pawprint.gif", "files/club-kit.zip",
                                          "files/checklist.txt", "gallery/sable.png",
                                          "images/logo.png"};
  std::vector<std::string> expected;
  for (const std::string& path : saved) {
    expected.push_back("Saving " + host + "/" + path + " as " + path);
  }
  expected.push_back("Saves(5) Prints(0) Hits(6) HTTP 200(100%) Errors(0)");
  EXPECT_EQ(Lines(r.out), expected);
  for (const std::string& path : saved) {
    std::string served = ReadFile(kSite + "/" + path);
    ASSERT_FALSE(served.empty()) << path;
    EXPECT_EQ(ReadFile(workDir + "/" + path), served) << path;
  }
  ProcessResult files = RunProcess({"/usr/bin/find", ".", "-type", "f"}, workDir);
  EXPECT_EQ(Lines(files.out).size(), saved.size()) << files.out;
}

TEST_F(NginxCrawlTest, KeywordCrawlSavesFoundPagesIntoTheirDirectories) {
  ProcessResult r = Crawl({"http://" + host + "/", "-k", "polecat", "-d", "1", "-create"});
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"Saving " + host + "/gallery/ as gallery/index.html"}));
  EXPECT_EQ(ReadFile(workDir + "/gallery/index.html"), ReadFile(kSite + "/gallery/index.html"));
}

}  // namespace
