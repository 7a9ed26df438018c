#include "web/web_view.h"

#include <httplib.h>
#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <sstream>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "protocol/orvane_engine.h"
#include "record/record_text.h"
#include "record/upgrade_record.h"
#include "support/language.h"
#include "support/log.h"
#include "support/string_table.h"
#include "support/text_ids.h"
#include "web/web_assets.h"
#include "web/web_gate.h"
#include "web/web_metrics.h"

namespace orvane {

namespace {

// Scripts and styles come from Orvane alone and never from the page itself, so even text that
// slipped into the markup could not run.
constexpr const char* kSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
constexpr size_t kCsvChunk = 64 * 1024;
constexpr int64_t kRebuildMs = 250;  // the page polls once a second

}  // namespace

// The workers: a request the gate hands over waits in a short queue for one of them, and one
// that finds the queue full is refused at once rather than kept waiting.
class WorkerPool {
  public:
    WorkerPool(int workers, int queued) : m_uMaxQueued(static_cast<size_t>(queued)) {
        for (int i = 0; i < workers; ++i) {
            m_vecThreads.emplace_back([this] { Work(); });
        }
    }
    ~WorkerPool() { Shutdown(); }

    bool TryEnqueue(std::function<void()> fn) {
        std::lock_guard<std::mutex> lock(m_cs);
        if (m_bShutdown || m_queJobs.size() >= m_uMaxQueued) {
            return false;
        }
        m_queJobs.push_back(std::move(fn));
        m_cvJobs.notify_one();
        return true;
    }

    void Shutdown() {
        {
            std::lock_guard<std::mutex> lock(m_cs);
            if (m_bShutdown) {
                return;
            }
            m_bShutdown = true;
        }
        m_cvJobs.notify_all();
        for (std::thread& t : m_vecThreads) {
            t.join();
        }
    }

  private:
    // Each job serves one connection and closes it, so every queued job runs, also at the end.
    void Work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_cs);
                m_cvJobs.wait(lock, [this] { return m_bShutdown || !m_queJobs.empty(); });
                if (m_queJobs.empty()) {
                    return;
                }
                job = std::move(m_queJobs.front());
                m_queJobs.pop_front();
            }
            try {
                job();
            } catch (const std::exception& e) {
                WriteLog(kLogMajor, "WebView request failed: %s", e.what());
            } catch (...) {
                WriteLog(kLogMajor, "WebView request failed");
            }
        }
    }

    const size_t m_uMaxQueued;
    std::mutex m_cs;
    std::condition_variable m_cvJobs;
    std::deque<std::function<void()>> m_queJobs;
    bool m_bShutdown = false;
    std::vector<std::thread> m_vecThreads;
};

// A request whose head the gate has read: httplib reads that head from here, then the rest of
// the request from the socket within what is left of the request's time; each write waits at
// most the write limit, and the whole response at most kResponseMs.
class HeldStream : public httplib::Stream {
  public:
    HeldStream(HeldRequest& request, int writeTimeoutMs)
        : m_request(request),
          m_iWriteMs(writeTimeoutMs),
          m_iWriteEndMs(platform::MonotonicMs() + kResponseMs) {}

    bool is_readable() const override {
        return m_uOffset < m_request.szHead.size() || m_request.conn.WaitReadable(LeftMs()) > 0;
    }
    bool is_writable() const override { return m_request.conn.WaitWritable(m_iWriteMs) > 0; }

    ssize_t read(char* ptr, size_t size) override {
        const std::string& head = m_request.szHead;
        if (m_uOffset < head.size()) {
            const size_t n = std::min(size, head.size() - m_uOffset);
            std::memcpy(ptr, head.data() + m_uOffset, n);
            m_uOffset += n;
            return static_cast<ssize_t>(n);
        }
        if (m_request.conn.WaitReadable(LeftMs()) <= 0) {
            return -1;
        }
        const long n = m_request.conn.Receive(ptr, size);
        return n < 0 ? -1 : static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        size_t done = 0;
        while (done < size) {
            const int64_t left = m_iWriteEndMs - platform::MonotonicMs();
            if (left <= 0 || m_request.conn.WaitWritable(
                                 static_cast<int>(std::min<int64_t>(left, m_iWriteMs))) <= 0) {
                return -1;
            }
            const long n = m_request.conn.Send(ptr + done, size - done);
            if (n == platform::TcpConnection::kWouldBlock) {
                continue;
            }
            if (n < 0) {
                return -1;
            }
            done += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        const platform::SocketAddress peer = m_request.conn.Peer().Unmapped();
        ip = peer.NumericHost();
        port = peer.Port();
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        const platform::SocketAddress local = m_request.conn.Local().Unmapped();
        ip = local.NumericHost();
        port = local.Port();
    }
    socket_t socket() const override { return static_cast<socket_t>(m_request.conn.Handle()); }

  private:
    static constexpr int64_t kResponseMs = 60000;

    int LeftMs() const {
        return static_cast<int>(
            std::max<int64_t>(0, m_request.iDeadlineMs - platform::MonotonicMs()));
    }

    HeldRequest& m_request;
    const int m_iWriteMs;
    const int64_t m_iWriteEndMs;
    size_t m_uOffset = 0;
};

// httplib parses and answers a request read through a stream; its accept loop is not used.
class WebServer : public httplib::Server {
  public:
    // httplib streams a response's content only while it takes its own listening socket for
    // open (it is never used otherwise: stop() and the accept loop are not called).
    void SetListening(int handle) { svr_sock_ = static_cast<socket_t>(handle); }
    void Serve(HeldStream& strm) {
        bool closed = false;
        process_request(strm, true, closed, [&strm](httplib::Request& req) {
            strm.get_remote_ip_and_port(req.remote_addr, req.remote_port);
            strm.get_local_ip_and_port(req.local_addr, req.local_port);
        });
    }
};

namespace {

// Labels of the page in the program's language.
Json::Value PageLabels(int language) {
    const bool chinese = language == kLanguageChinese;
    Json::Value labels;
    Json::Value columns(Json::arrayValue);
    for (int id : kDeviceColumnTexts) {
        columns.append(LookupStringTable(language, id));
    }
    labels["columns"] = columns;
    labels["successes"] = chinese ? "成功：" : "Successes:";
    labels["failures"] = chinese ? "失败：" : "Failed:";
    labels["filter"] = chinese ? "筛选" : "Filter";
    labels["running"] = chinese ? "升级服务运行中" : "Service running";
    labels["stopped"] = chinese ? "升级服务已停止" : "Service stopped";
    labels["recordFailing"] = chinese ? "升级记录无法写入：结果已保留，可写入时补写"
                                      : "The upgrade record cannot be written: outcomes are "
                                        "kept and written once it can";
    return labels;
}

// The run's limits (0: none), its halted state and the note line the window shows.
void AddBatchFields(const OrvaneEngine& engine, Json::Value* root) {
    const BatchSettings settings = engine.Batch().Settings();
    const BatchStatus status = engine.Batch().Status();
    Json::Value limits;
    limits["scope"] = settings.bScoped
                          ? Json::Value(static_cast<Json::UInt64>(settings.scope.setMacs.size() +
                                                                  settings.scope.setModels.size()))
                          : Json::Value();
    limits["max_at_once"] = settings.iMaxAtOnce;
    limits["first_group"] = settings.iFirstGroup;
    limits["halt_after"] = settings.iHaltAfter;
    (*root)["limits"] = limits;
    (*root)["halted"] = status.bHalted;
    (*root)["waiting"] = status.iWaiting;
    (*root)["note"] = engine.BatchNote();
}

void Serve(httplib::Response& res, const std::string& body, const char* type) {
    res.set_content(body, type);
}

}  // namespace

bool ParseHostPort(const std::string& text, std::string* host, int* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size() || colon + 6 < text.size()) {
        return false;
    }
    int value = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    if (value > 65535) {
        return false;
    }
    std::string name = text.substr(0, colon);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    if (name.empty()) {
        return false;
    }
    *host = name;
    *port = value;
    return true;
}

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool IsServedHost(const std::string& header, const std::string& localAddr, int localPort,
                  const std::vector<std::string>& names) {
    const std::string host = Lower(header);
    std::string name = host;
    int port = 80;
    // "name:port", "[v6]:port", "[v6]", "name"; a bare v6 address has colons but no port.
    const size_t close = host.rfind(']');
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && (close == std::string::npos || colon > close) &&
        (host[0] == '[' || host.find(':') == colon)) {
        if (!ParseHostPort(host, &name, &port)) {
            return false;
        }
    } else if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        name = host.substr(1, host.size() - 2);
    }
    if (name.empty() || port != localPort) {
        return false;
    }
    if (name == Lower(localAddr) || name == "localhost") {
        return true;
    }
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return Lower(n) == name || Lower(n) == host; });
}

WebView::WebView(OrvaneEngine& engine, const UpgradeRecord& record, const std::string& version,
                 WebLimits limits)
    : m_engine(engine),
      m_record(record),
      m_limits(limits),
      m_metrics(std::make_unique<WebMetrics>(engine, record, version)),
      m_gate(std::make_unique<WebGate>(
          GateLimits{limits.uMaxHead, limits.iHeadMs, limits.iPerAddress, limits.iMaxWaiting})),
      m_server(std::make_unique<WebServer>()) {
    m_engine.Devices().AddObserver(this);
}

WebView::~WebView() {
    Stop();
    m_engine.Devices().RemoveObserver(this);
}

bool WebView::Bind(const std::string& addrPort, std::string* error) {
    std::string host;
    int port = 0;
    if (!ParseHostPort(addrPort, &host, &port)) {
        *error = "expected ADDR:PORT, got \"" + addrPort + "\"";
        return false;
    }
    // Every request on a connection of its own: a browser that keeps one open between polls
    // would hold a worker for nothing.
    m_server->set_keep_alive_max_count(1);
    m_server->set_payload_max_length(m_limits.uMaxBody);
    m_server->set_default_headers({{"Content-Security-Policy", kSecurityPolicy},
                                   {"X-Content-Type-Options", "nosniff"},
                                   {"Referrer-Policy", "no-referrer"},
                                   {"Cache-Control", "no-cache"}});
    m_server->set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                       std::exception_ptr) { res.status = 500; });
    // Only names that are this service's: a page elsewhere that makes its own name point here
    // (DNS rebinding) reads nothing through the operator's browser.
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (IsServedHost(req.get_header_value("Host"), req.local_addr, req.local_port,
                         m_vecHosts)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        res.status = 421;
        Serve(res, "misdirected request: unknown Host\n", "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });
    AddRoutes();
    std::string why;
    if (!m_gate->Listen(host, port, &why)) {
        *error = "cannot listen on " + addrPort + ": " + why;
        return false;
    }
    m_iPort = m_gate->Port();
    m_server->SetListening(m_gate->Handle());
    return true;
}

void WebView::SetServedHosts(const std::vector<std::string>& names) {
    m_vecHosts = names;
}

void WebView::Start() {
    m_pool = std::make_unique<WorkerPool>(m_limits.iWorkers, m_limits.iQueued);
    const int writeMs = m_limits.iTimeoutSeconds * 1000;
    m_gate->Start([this, writeMs](std::unique_ptr<HeldRequest>& request) {
        std::shared_ptr<HeldRequest> job(std::move(request));
        const bool taken = m_pool->TryEnqueue([this, job, writeMs] {
            HeldStream strm(*job, writeMs);
            m_server->Serve(strm);
            job->conn.Close();
            m_gate->Release(job->szPeerHost);
        });
        if (!taken) {
            request = std::make_unique<HeldRequest>(std::move(*job));
        }
        return taken;
    });
}

void WebView::Stop() {
    m_gate->Stop();
    if (m_pool) {
        m_pool->Shutdown();  // the requests already handed over are answered first
    }
}

void WebView::OnDeviceTableChanged(const DeviceTableChange& change) {
    if (change.kind == DeviceTableChange::kRowsCleared) {
        std::lock_guard<std::mutex> lock(m_csOutcome);
        m_mapOutcome.clear();
    }
    ++m_uChanges;
}

void WebView::OnDeviceOutcome(const IpcInfo& record, bool success) {
    std::lock_guard<std::mutex> lock(m_csOutcome);
    if (record.nIndex >= 0) {
        m_mapOutcome[record.nIndex] = success;
    }
}

std::shared_ptr<const std::string> WebView::DevicesJson(uint64_t* version) {
    // Read before the copy: a change made meanwhile moves it again and the next poll rebuilds.
    const uint64_t now = (m_uChanges.load() * 2 + (m_engine.IsRunning() ? 1 : 0)) * 2 +
                         (m_record.WriteFailing() ? 1 : 0);
    const int64_t nowMs = platform::MonotonicMs();
    std::lock_guard<std::mutex> lock(m_csCache);
    // While devices report, the table changes between any two polls: one copy per
    // kRebuildMs, however many browsers poll, keeps their cost off the service's cores.
    if (!m_cachedJson || (m_uCachedVersion != now && nowMs - m_iCachedAtMs >= kRebuildMs)) {
        m_cachedJson = std::make_shared<const std::string>(BuildDevicesJson(now));
        m_uCachedVersion = now;
        m_iCachedAtMs = nowMs;
    }
    *version = m_uCachedVersion;
    return m_cachedJson;
}

std::string WebView::BuildDevicesJson(uint64_t version) {
    static const char* const kKeys[kDeviceColumns] = {"id",       "model",  "ip",   "status",
                                                      "schedule", "before", "after"};
    const DeviceTable& table = m_engine.Devices();
    const std::vector<DeviceRow> rows = table.Rows();
    std::map<int, bool> outcomes;
    {
        std::lock_guard<std::mutex> lock(m_csOutcome);
        outcomes = m_mapOutcome;
    }
    Json::Value root;
    root["version"] = Json::UInt64(version);
    root["running"] = m_engine.IsRunning();
    root["recordFailing"] = (version & 1) != 0;
    root["successes"] = table.SuccessCount();
    root["failures"] = table.FailCount();
    root["signedList"] = SignedListNote(m_engine.SignedListCount());
    root["lang"] = g_iLanguage == kLanguageChinese ? "zh" : "en";
    root["labels"] = PageLabels(g_iLanguage);
    AddBatchFields(m_engine, &root);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    // Row by row into one stream: a tree of every row would cost each worker thread that
    // ever rebuilds a megabyte of its own heap.
    std::ostringstream out;
    writer->write(root, &out);
    std::string head = out.str();
    head.pop_back();  // the closing brace: the rows follow
    out.str(std::string());
    out << head << ",\"rows\":[";
    for (size_t i = 0; i < rows.size(); ++i) {
        Json::Value row(Json::objectValue);
        for (int c = 0; c < kDeviceColumns; ++c) {
            row[kKeys[c]] = PrintableText(rows[i][c]);
        }
        auto outcome = outcomes.find(static_cast<int>(i));
        row["result"] = outcome == outcomes.end() ? "" : outcome->second ? "success" : "failure";
        if (i > 0) {
            out << ',';
        }
        writer->write(row, &out);
    }
    out << "]}";
    return out.str();
}

std::string WebView::MetricsText() {
    return m_metrics->Scrape();
}

void WebView::AddRoutes() {
    httplib::Server& s = *m_server;
    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        Serve(res, kWebIndexHtml, "text/html; charset=utf-8");
    });
    s.Get("/app.js", [](const httplib::Request&, httplib::Response& res) {
        Serve(res, kWebAppJs, "text/javascript; charset=utf-8");
    });
    s.Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
        Serve(res, kWebStyleCss, "text/css; charset=utf-8");
    });
    s.Get("/api/devices", [this](const httplib::Request& req, httplib::Response& res) {
        uint64_t version = 0;
        std::shared_ptr<const std::string> body = DevicesJson(&version);
        const std::string tag = "\"" + std::to_string(version) + "\"";
        res.set_header("ETag", tag);
        if (req.get_header_value("If-None-Match") == tag) {
            res.status = 304;
            return;
        }
        // Sent from the shared copy, not a copy per response (fifty browsers would hold fifty
        // copies of a thousand rows). A response with a provider is never compressed here:
        // brotli at its default quality would cost more per poll than the whole rebuild.
        res.set_content_provider(body->size(), "application/json; charset=utf-8",
                                 [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return sink.write(body->data() + offset,
                                                       std::min(length, body->size() - offset));
                                 });
    });
    s.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) {
        const bool running = m_engine.IsRunning();
        res.status = running ? 200 : 503;
        Serve(res, running ? "ok\n" : "stopped\n", "text/plain; charset=utf-8");
    });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        Serve(res, MetricsText(), "text/plain; version=0.0.4; charset=utf-8");
    });
    s.Get("/upgrades.csv", [this](const httplib::Request&, httplib::Response& res) {
        auto file = std::make_shared<platform::DataFile>();
        const std::string path = m_record.Path();
        if (path.empty() || !file->OpenRead(path)) {
            res.status = 404;
            Serve(res, "no upgrade record yet\n", "text/plain; charset=utf-8");
            return;
        }
        // The length as it is now: lines appended meanwhile come with the next request.
        const int64_t size = file->Size();
        res.set_header("Content-Disposition", "attachment; filename=\"upgrades.csv\"");
        res.set_content_provider(
            static_cast<size_t>(size < 0 ? 0 : size), "text/csv; charset=utf-8",
            [file](size_t offset, size_t length, httplib::DataSink& sink) {
                std::vector<char> buf(std::min(length, kCsvChunk));
                const long n = file->ReadAt(static_cast<int64_t>(offset), buf.data(), buf.size());
                if (n <= 0) {
                    return false;
                }
                return sink.write(buf.data(), static_cast<size_t>(n));
            });
    });
}

}  // namespace orvane
