#include "tests/e2e/NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

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

}  // namespace

std::string FindNginx() {
  for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

void NginxServer::EnableTls(const TestCertificate& served) { certificate = &served; }

bool NginxServer::Start(const std::string& binary, const std::string& root) {
  if (dir.empty()) return false;
  for (int attempt = 0; attempt < 5 && pid <= 0; ++attempt) {
    port = FreePort();
    tlsPort = -1;
    while (certificate != nullptr && (tlsPort == -1 || tlsPort == port)) tlsPort = FreePort();
    writeConfig(root);
    pid = fork();
    if (pid == 0) {
      execl(binary.c_str(), binary.c_str(), "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!waitUntilAnswering()) Stop();
  }
  return pid > 0;
}

void NginxServer::Stop() {
  if (pid > 0) {
    kill(pid, SIGQUIT);
    int status;
    waitpid(pid, &status, 0);
    pid = -1;
  }
}

std::string NginxServer::Log() const { return ReadFile(dir + "/error.log"); }

std::string NginxServer::AccessLog() const { return ReadFile(dir + "/access.log"); }

std::string NginxServer::TlsLog() const { return ReadFile(dir + "/tls.log"); }

void NginxServer::AwaitLogged() {
  const std::string marker = "/.logged-" + std::to_string(++markers);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = "GET " + marker + " HTTP/1.0\r\n\r\n";
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char sink[512];
    while (recv(fd, sink, sizeof sink, 0) > 0) {
    }
  }
  close(fd);
  for (int i = 0; i < 500 && AccessLog().find(marker + " ") == std::string::npos; ++i) {
    usleep(10 * 1000);
  }
}

std::string NginxServer::ConnectionLog() const { return ReadFile(dir + "/connections.log"); }

void NginxServer::writeConfig(const std::string& root) {
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
       << "  log_format sessions '$connection $ssl_session_reused $ssl_alpn_protocol';\n"
       << "  log_format connections '$connection $connection_requests';\n"
       << (keepaliveRequests > 0
               ? "  keepalive_requests " + std::to_string(keepaliveRequests) + ";\n"
               : "")
       << (gzip ? "  gzip on;\n  gzip_min_length 1;\n"
                  "  gzip_types text/css text/plain text/csv;\n"
                : "")
       << "  root " << root << ";\n"
       << "  index index.html;\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << ";\n"
       << (ipv6 ? "    listen [::1]:" + std::to_string(port) + ";\n" : "") << "    access_log "
       << dir << "/access.log;\n"
       << "    access_log " << dir << "/connections.log connections;\n"
       << "    location ^~ /.logged- { access_log " << dir << "/access.log; return 204; }\n"
       << "  }\n";
  if (certificate != nullptr) {
    conf << "  server {\n"
         << "    listen 127.0.0.1:" << tlsPort << " ssl;\n"
         << (ipv6 ? "    listen [::1]:" + std::to_string(tlsPort) + " ssl;\n" : "")
         << "    ssl_certificate " << certificate->certificateFile << ";\n"
         << "    ssl_certificate_key " << certificate->keyFile << ";\n"
         << "    ssl_protocols TLSv1.2 TLSv1.3;\n"
         << "    access_log " << dir << "/access.log;\n"
         << "    access_log " << dir << "/tls.log sessions;\n"
         << "  }\n";
  }
  conf << "}\n";
}

bool NginxServer::waitUntilAnswering() {
  for (int i = 0; i < 200; ++i) {
    if (Answers(port) && (tlsPort == -1 || Answers(tlsPort))) return true;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}
