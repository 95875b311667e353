// Download throughput over loopback: DownloadSourceFile against the curl
// command-line tool fetching the same body from the same cpp-httplib server.
//   bench_http [--benchmark_filter=...]     (body size: BV_HTTP_BENCH_MB, default 64)
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "http/http.h"
#include "record/com.h"

namespace {

struct BenchServer {
    httplib::Server server;
    std::thread thread;
    std::string body;
    int port = 0;
    std::string dir;

    BenchServer() {
        const char *mb = getenv("BV_HTTP_BENCH_MB");
        size_t size = (size_t)(mb ? atoi(mb) : 64) << 20;
        body.resize(size);
        uint32_t x = 2463534242u;
        for (char &c : body) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = (char)x;
        }
        server.Get("/body.bin", [this](const httplib::Request &, httplib::Response &res) {
            res.set_content(body, "application/octet-stream");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        dir = (std::filesystem::temp_directory_path() / "bv_http_bench").string() + "/";
        std::filesystem::create_directories(dir);
        bvcom_SetHostSetting(6, dir.c_str());
    }
    ~BenchServer() {
        server.stop();
        thread.join();
        std::filesystem::remove_all(dir);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/body.bin"; }
};

BenchServer &Server() {
    static BenchServer server;
    return server;
}

void BM_DownloadSourceFile(benchmark::State &state) {
    BenchServer &s = Server();
    std::string url = s.Url() + "|user|password";
    for (auto _ : state) {
        if (DownloadSourceFile(url.c_str()) != 0) state.SkipWithError("download failed");
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)s.body.size());
}
BENCHMARK(BM_DownloadSourceFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlTool(benchmark::State &state) {
    BenchServer &s = Server();
    std::string cmd = "curl -s -k -u user:password -A vexalin-agent/1.0 -o '" + s.dir + "curl.vcs' '" + s.Url() + "'";
    for (auto _ : state) {
        if (system(cmd.c_str()) != 0) state.SkipWithError("curl tool failed");
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)s.body.size());
}
BENCHMARK(BM_CurlTool)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
