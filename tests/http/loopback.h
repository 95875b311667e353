// Test scaffolding: real HTTP(S) servers on 127.0.0.1 in a thread, a
// scratch directory that the common library uses as its download directory
// and log, and a port that nothing listens on.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/com.h"
#include "support/file_text.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

namespace bvtest {

struct SeenRequest {
    std::string target;         // as sent, before any decoding
    std::string authorization;  // empty when absent
    std::string userAgent;
};

// One server on 127.0.0.1 with a free port, serving from its own thread for
// the lifetime of the object. Routes are added before Start().
class LoopbackServer {
  public:
    explicit LoopbackServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>(),
                            const char *scheme = "http")
        : server_(std::move(server)), scheme_(scheme) {
        // Recorded before the answer goes out, so a finished download has
        // always been seen.
        server_->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &) {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back({req.target, req.get_header_value("Authorization"), req.get_header_value("User-Agent")});
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    ~LoopbackServer() {
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
    }
    httplib::Server &Routes() { return *server_; }
    void Start() {
        port_ = server_->bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // stop() only reaches a running server.
        while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::string Url(const std::string &path) const {
        return std::string(scheme_) + "://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<SeenRequest> Seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

  private:
    std::unique_ptr<httplib::Server> server_;
    const char *scheme_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<SeenRequest> seen_;
};

// A port on 127.0.0.1 that was free a moment ago and has no listener.
inline int UnusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(fd, (sockaddr *)&addr, sizeof addr) != 0 || getsockname(fd, (sockaddr *)&addr, &len) != 0) {
        close(fd);
        return 0;
    }
    close(fd);
    return ntohs(addr.sin_port);
}

// A scratch directory: "dl/" is host setting 6 (the download directory),
// "log.txt" the common library's log.
class ScratchDir {
  public:
    ScratchDir() {
        downloadDir_ = dir_.SubDir("dl");
        bvcom_SetHostSetting(6, downloadDir_.c_str());
        bvcom_SetLogFile((dir_.Path() / "log.txt").string().c_str());
    }
    ~ScratchDir() { bvcom_SetLogFile(nullptr); }
    const std::string &DownloadDir() const { return downloadDir_; }
    std::string DownloadPath() const { return downloadDir_ + "temp.vcs"; }
    std::filesystem::path Root() const { return dir_.Path(); }
    std::string Log() const { return ReadFileText(dir_.Path() / "log.txt"); }

  private:
    TempDir dir_{"bv_http"};
    std::string downloadDir_;
};

// A self-signed certificate and key for 127.0.0.1, made with the openssl tool.
inline bool MakeSelfSignedCertificate(const std::filesystem::path &dir, std::string *cert, std::string *key) {
    *cert = (dir / "cert.pem").string();
    *key = (dir / "key.pem").string();
    std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout " +
                      ShellQuote(*key) + " -out " + ShellQuote(*cert) + " >/dev/null 2>&1";
    return system(cmd.c_str()) == 0 && std::filesystem::exists(*cert) && std::filesystem::exists(*key);
}

}  // namespace bvtest
