// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmarks of the service list (ServiceStore) at 100, 1,000 and 10,000
// records: the key lookup every operation starts with, what a finished
// check's result costs the owner thread (the document changes at once; the
// store's writer thread takes it to the file, at most about once a second),
// the bare atomic write of the file's bytes that the writer makes, loading
// the file at start-up, the walk over all records that the scheduler makes
// once a minute, and a result's cost to the owner thread while the writer
// writes in a loop (median, p99 and maximum).
//
// The service files live in a fresh directory under $TMPDIR (or /tmp), built
// once per size and shared by the benchmarks; the directory is removed when
// the program ends.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/vfs.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/AtomicFile.h"
#include "app/EventLoop.h"
#include "registry/ServiceRecord.h"
#include "registry/ServiceStore.h"

namespace {

using vantor::registry::ExtraField;
using vantor::registry::MakeServiceKey;
using vantor::registry::ServiceFields;
using vantor::registry::ServiceRecord;
using vantor::registry::ServiceStore;
using vantor::registry::UrlRequestFields;

// Up to this many records a file is built through the store itself, one
// insert (and one fsync'ed save) at a time. Larger files are written as XML
// text in the layout the store saves: inserting one by one rewrites the
// whole file each time, which takes 10 to 30 s at 1,000 records on an
// ordinary disk. The text writer is checked byte for byte against the
// store's own saves before it is used.
constexpr int kMaxRecordsBuiltByInserts = 100;

// ---------------------------------------------------------------------------
// Sample content

struct SampleRecord {
    ServiceFields fields;
    bool isUrl = false;
    UrlRequestFields request;
    std::vector<ExtraField> extras;

    std::string key() const { return MakeServiceKey(fields.service, fields.ip, fields.port); }
};

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::string Hex(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kDigits[value & 0xf];
        value >>= 4;
    }
    return out;
}

// Distinct loopback addresses, 250 per /24.
std::string Host(int i) {
    return "127.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

// Record i of a generated list: half URL checks (with the HTTP request group
// and two extra request fields), the rest Ping, SMTP and FTP checks. Every
// record has its own key.
SampleRecord MakeRecord(int i) {
    static constexpr const char* kScheduleBy[] = {"Minute", "Hour", "Day"};
    SampleRecord r;
    ServiceFields& f = r.fields;
    f.scheduleBy = kScheduleBy[i % 3];
    f.scheduleHour = std::to_string((i * 7) % 24);
    f.scheduleMinute = std::to_string((i * 13) % 60);
    f.alarmEmail = i % 2 == 0 ? "y" : "n";
    f.alarmSmpp = i % 5 == 0 ? "y" : "n";
    f.alarmHttpSms = i % 7 == 0 ? "y" : "n";
    f.alarmSyslog = i % 3 == 0 ? "y" : "n";
    const std::string host = Host(i);
    const std::string n = std::to_string(i);
    switch (i % 8) {
        case 1:
        case 5:
            f.service = "Ping";
            f.ip = host;
            f.port = "0";
            break;
        case 3:
            f.service = "SMTP";
            f.ip = host;
            f.port = "25";
            f.username = "postmaster" + n;
            f.password = "smtp-" + Hex(Mix(static_cast<std::uint64_t>(i))).substr(0, 10);
            break;
        case 7:
            f.service = "FTP";
            f.ip = host;
            f.port = "21";
            f.username = "mirror" + n;
            f.password = "ftp-" + Hex(Mix(static_cast<std::uint64_t>(i))).substr(0, 10);
            f.ftpProxyType = i % 16 == 7 ? "None" : "SITE";
            if (f.ftpProxyType != "None") {
                f.proxyIp = "127.0.0.1";
                f.proxyPort = "2121";
                f.proxyUsername = "gateway";
                f.proxyPassword = "gw-secret";
            }
            break;
        default:
            r.isUrl = true;
            f.service = "URL";
            f.ip = "http://" + host + ":8080/status/health?node=" + n + "&format=xml";
            f.port = "8080";
            f.username = "monitor";
            f.password = "pw-" + Hex(Mix(static_cast<std::uint64_t>(i))).substr(0, 12);
            f.urlMethod = i % 4 == 0 ? "GET" : "POST";
            if (i % 10 == 0) {
                f.proxyIp = "127.0.0.1";
                f.proxyPort = "3128";
                f.proxyUsername = "proxy";
                f.proxyPassword = "proxy-pw";
            }
            r.request.referer = "http://127.0.0.1/dashboard/services";
            r.request.cookie =
                "session=" + Hex(Mix(static_cast<std::uint64_t>(i) + 1)) + "; lang=en; theme=dark";
            r.request.headerData = "X-Monitor: vantor-lite";
            r.request.userAgent = "Mozilla/5.0 (X11; Linux x86_64) VantorLite/0.1";
            r.request.contentType = "application/x-www-form-urlencoded";
            r.request.accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
            r.request.acceptCharSet = "utf-8, iso-8859-1;q=0.5";
            r.request.acceptEncoding = "gzip, deflate";
            r.request.acceptLanguage = "en-US,en;q=0.5";
            r.extras = {{"account", "ops-" + n},
                        {"token", Hex(Mix(static_cast<std::uint64_t>(i) + 2))}};
            break;
    }
    return r;
}

// ---------------------------------------------------------------------------
// Building the files

void Check(const vantor::Status& status, const char* what) {
    if (!status) {
        throw std::runtime_error(std::string(what) + ": " + status.error());
    }
}

void BuildWithInserts(const std::string& path, int count) {
    ServiceStore store(path);
    Check(store.CreateServiceFile(), "CreateServiceFile");
    Check(store.OpenServiceFile(true), "OpenServiceFile");
    for (int i = 0; i < count; ++i) {
        const SampleRecord r = MakeRecord(i);
        if (r.isUrl) {
            Check(store.InsertURLService(r.fields, r.request), "InsertURLService");
            Check(store.ReplaceExtraFields(r.key(), r.extras), "ReplaceExtraFields");
        } else {
            Check(store.InsertService(r.fields), "InsertService");
        }
    }
    Check(store.OpenServiceFile(false), "OpenServiceFile(false)");
}

void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += attribute ? "&quot;" : "\"";
                break;
            default:
                out += c;
                break;
        }
    }
}

void AppendElement(std::string& out, std::string_view indent, std::string_view name,
                   std::string_view value) {
    out += indent;
    out += '<';
    out += name;
    out += '>';
    AppendEscaped(out, value, false);
    out += "</";
    out += name;
    out += ">\n";
}

// The record as the store saves it: same element order, two-space indent.
void AppendRecordText(std::string& out, const SampleRecord& r) {
    const ServiceFields& f = r.fields;
    constexpr std::string_view in1 = "    ";
    constexpr std::string_view in2 = "      ";
    out += "  <record key=\"";
    AppendEscaped(out, r.key(), true);
    out += "\">\n";
    AppendElement(out, in1, "service", f.service);
    AppendElement(out, in1, "ip", f.ip);
    AppendElement(out, in1, "port", f.port);
    AppendElement(out, in1, "username", f.username);
    AppendElement(out, in1, "password", f.password);
    AppendElement(out, in1, "schedule_by", f.scheduleBy);
    AppendElement(out, in1, "schedule_hour", f.scheduleHour);
    AppendElement(out, in1, "schedule_minute", f.scheduleMinute);
    AppendElement(out, in1, "service_status", "Unknown");
    AppendElement(out, in1, "status", "Start");
    AppendElement(out, in1, "proxy_ip", f.proxyIp);
    AppendElement(out, in1, "proxy_port", f.proxyPort);
    AppendElement(out, in1, "proxy_username", f.proxyUsername);
    AppendElement(out, in1, "proxy_password", f.proxyPassword);
    AppendElement(out, in1, "url_method", f.urlMethod);
    AppendElement(out, in1, "ftp_proxytype", f.ftpProxyType);
    AppendElement(out, in1, "alarm_email", f.alarmEmail);
    AppendElement(out, in1, "alarm_smpp", f.alarmSmpp);
    AppendElement(out, in1, "alarm_httpsms", f.alarmHttpSms);
    AppendElement(out, in1, "alarm_syslog", f.alarmSyslog);
    if (r.isUrl) {
        const UrlRequestFields& q = r.request;
        out += "    <service_url>\n";
        AppendElement(out, in2, "referer", q.referer);
        AppendElement(out, in2, "cookie", q.cookie);
        AppendElement(out, in2, "headerData", q.headerData);
        AppendElement(out, in2, "userAgent", q.userAgent);
        AppendElement(out, in2, "contentType", q.contentType);
        AppendElement(out, in2, "accept", q.accept);
        AppendElement(out, in2, "acceptCharSet", q.acceptCharSet);
        AppendElement(out, in2, "acceptEncoding", q.acceptEncoding);
        AppendElement(out, in2, "acceptLanguage", q.acceptLanguage);
        out += "    </service_url>\n";
        for (const ExtraField& extra : r.extras) {
            out += "    <service_url_detail>\n";
            AppendElement(out, in2, "fieldname", extra.name);
            AppendElement(out, in2, "fieldvalue", extra.value);
            AppendElement(out, in2, "isFile", "n");
            out += "    </service_url_detail>\n";
        }
    }
    out += "  </record>\n";
}

std::string ServiceFileText(int count) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<!DOCTYPE service>\n"
        "<serviceList>\n";
    for (int i = 0; i < count; ++i) {
        AppendRecordText(out, MakeRecord(i));
    }
    out += "</serviceList>\n";
    return out;
}

void BuildAsText(const std::string& path, int count) {
    Check(vantor::app::WriteFileAtomically(path, ServiceFileText(count)), "WriteFileAtomically");
}

// The text writer must produce exactly the file that inserts through the
// store produce, so that a file written as text is one the store could have
// written itself.
void CheckTextMatchesInserts(const std::string& dir) {
    constexpr int kCount = 64;
    const std::string inserted = dir + "/check-inserted.xml";
    const std::string written = dir + "/check-written.xml";
    BuildWithInserts(inserted, kCount);
    BuildAsText(written, kCount);
    const auto a = vantor::app::ReadWholeFile(inserted);
    const auto b = vantor::app::ReadWholeFile(written);
    if (!a || !b || *a != *b) {
        throw std::runtime_error("the XML text writer does not match the store's own saves");
    }
    std::filesystem::remove(inserted);
    std::filesystem::remove(written);
}

// Loads a built file and checks that it holds what was generated.
void VerifyFile(const std::string& path, int count) {
    ServiceStore store(path);
    Check(store.OpenServiceFile(true), "OpenServiceFile");
    if (store.recordCount() != static_cast<std::size_t>(count)) {
        throw std::runtime_error(path + ": " + std::to_string(store.recordCount()) +
                                 " records instead of " + std::to_string(count));
    }
    for (const int i : {0, 1, 3, 7, count / 2, count - 1}) {
        const SampleRecord want = MakeRecord(i);
        const std::optional<ServiceRecord> got = store.findRecord(want.key());
        const bool same = store.FindService(want.key()) == i && got &&
                          got->text("ip") == want.fields.ip &&
                          got->text("schedule_minute") == want.fields.scheduleMinute &&
                          got->text("alarm_syslog") == want.fields.alarmSyslog &&
                          got->findUrlField("acceptLanguage").has_value() == want.isUrl &&
                          got->extraFields() == want.extras;
        if (!same) {
            throw std::runtime_error(path + ": record " + std::to_string(i) + " does not match");
        }
    }
}

// ---------------------------------------------------------------------------
// Shared environment

class StoreFiles final {
public:
    StoreFiles() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/bench_store-XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("cannot create a directory from " + tmpl);
        }
        m_dir = name.data();
    }
    ~StoreFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    StoreFiles(const StoreFiles&) = delete;
    StoreFiles& operator=(const StoreFiles&) = delete;

    const std::string& dir() const { return m_dir; }

    // The service file with `count` generated records, built on first use.
    const std::string& fileFor(int count) {
        auto it = m_files.find(count);
        if (it != m_files.end()) {
            return it->second;
        }
        const std::string path = m_dir + "/service-" + std::to_string(count) + ".xml";
        const auto start = std::chrono::steady_clock::now();
        const bool byInserts = count <= kMaxRecordsBuiltByInserts;
        if (byInserts) {
            BuildWithInserts(path, count);
        } else {
            if (!m_textChecked) {
                CheckTextMatchesInserts(m_dir);
                m_textChecked = true;
            }
            BuildAsText(path, count);
        }
        VerifyFile(path, count);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::error_code ec;
        const auto bytes = std::filesystem::file_size(path, ec);
        std::fprintf(stderr, "setup: %d records %s in %.2f s (%llu bytes)\n", count,
                     byInserts ? "inserted one by one" : "written as XML text", seconds,
                     static_cast<unsigned long long>(ec ? 0 : bytes));
        return m_files.emplace(count, path).first->second;
    }

private:
    std::string m_dir;
    std::map<int, std::string> m_files;
    bool m_textChecked = false;
};

StoreFiles* g_files = nullptr;

long MinorPageFaults() {
    rusage usage{};
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_minflt : 0;
}

// A store opened on the file with state.range(0) records, or null after
// SkipWithError.
std::unique_ptr<ServiceStore> OpenStore(benchmark::State& state) {
    try {
        const int count = static_cast<int>(state.range(0));
        auto store = std::make_unique<ServiceStore>(g_files->fileFor(count));
        Check(store->OpenServiceFile(true), "OpenServiceFile");
        return store;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Benchmarks

// Flushes the store and reads its file again: whether it holds these
// results (key, word), or SkipWithError.
bool FileHolds(benchmark::State& state, ServiceStore& store,
               const std::map<std::string, std::string>& results) {
    if (const vantor::Status flushed = store.flush(); !flushed) {
        state.SkipWithError(("flush: " + flushed.error()).c_str());
        return false;
    }
    ServiceStore reread(store.filePath());
    if (!reread.OpenServiceFile(true)) {
        state.SkipWithError("cannot reload the saved file");
        return false;
    }
    for (const auto& [key, word] : results) {
        const auto record = reread.findRecord(key);
        if (!record || record->text("service_status") != word) {
            state.SkipWithError("the saved file does not hold the last results");
            return false;
        }
    }
    return true;
}

// The second-to-last record: FindService always scans every record, since
// the last one with the key wins.
void BM_FindService(benchmark::State& state) {
    const auto store = OpenStore(state);
    if (!store) {
        return;
    }
    const int count = static_cast<int>(state.range(0));
    const std::string key = MakeRecord(count - 2).key();
    if (store->FindService(key) != count - 2) {
        state.SkipWithError("FindService returned the wrong position");
        return;
    }
    for (auto _ : state) {
        int position = store->FindService(key);
        benchmark::DoNotOptimize(position);
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_FindServiceMissing(benchmark::State& state) {
    const auto store = OpenStore(state);
    if (!store) {
        return;
    }
    const int count = static_cast<int>(state.range(0));
    const std::string key = MakeServiceKey("Ping", "127.255.255.254", "0");
    if (store->FindService(key) != -1) {
        state.SkipWithError("FindService found a key that is not there");
        return;
    }
    for (auto _ : state) {
        int position = store->FindService(key);
        benchmark::DoNotOptimize(position);
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// A check result written back: lookup, one element changed, the whole file
// serialised and replaced (temporary file, fsync, rename, directory fsync).
void BM_SetServiceResult(benchmark::State& state) {
    const auto store = OpenStore(state);
    if (!store) {
        return;
    }
    const int count = static_cast<int>(state.range(0));
    const std::string key = MakeRecord(count / 2).key();
    bool passed = false;
    for (auto _ : state) {
        passed = !passed;
        if (const vantor::Status saved = store->SetServiceResult(key, passed ? "Passed" : "Failed");
            !saved) {
            state.SkipWithError(("SetServiceResult: " + saved.error()).c_str());
            return;
        }
    }
    // The last result must reach the disk, not just the document.
    FileHolds(state, *store, {{key, passed ? "Passed" : "Failed"}});
}

// Results while the writer writes the whole file in a loop (no interval
// between its writes), one every 100 us as a burst of checks brings them:
// what each call costs the owner thread, with its median, p99 and maximum,
// since one wait on the writer is what stalls a window; beside it the
// longest of the owner's turns between them, which apply the results held
// back while the writer serialised.
void BM_SetServiceResultWhileWriting(benchmark::State& state) {
    const auto store = OpenStore(state);
    if (!store) {
        return;
    }
    const int count = static_cast<int>(state.range(0));
    store->setResultWriteInterval(std::chrono::milliseconds(0));
    // The owner's turns between results apply what was held back meanwhile.
    vantor::app::EventLoop owner;
    store->setOwner(&owner);
    double longestTurnUs = 0;
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) {
        keys.push_back(MakeRecord(i).key());
    }
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(state.max_iterations));
    std::map<std::string, std::string> last;
    std::size_t n = 0;
    for (auto _ : state) {
        const std::string& key = keys[n % keys.size()];
        const char* word = (n / keys.size()) % 2 == 0 ? "Failed" : "Passed";
        ++n;
        const auto start = std::chrono::steady_clock::now();
        const vantor::Status saved = store->SetServiceResult(key, word);
        const auto end = std::chrono::steady_clock::now();
        if (!saved) {
            state.SkipWithError(("SetServiceResult: " + saved.error()).c_str());
            return;
        }
        const double us = std::chrono::duration<double, std::micro>(end - start).count();
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
        last[key] = word;
        const auto turn = std::chrono::steady_clock::now();
        owner.runUntil([] { return false; }, std::chrono::milliseconds(0));
        longestTurnUs = std::max(longestTurnUs, std::chrono::duration<double, std::micro>(
                                                    std::chrono::steady_clock::now() - turn)
                                                    .count());
        while (std::chrono::steady_clock::now() - end < std::chrono::microseconds(100)) {
        }
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double share) {
        return micros[static_cast<std::size_t>(share * static_cast<double>(micros.size() - 1))];
    };
    state.counters["p50_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = micros.back();
    state.counters["turn_max_us"] = longestTurnUs;
    // Every result reaches the disk.
    FileHolds(state, *store, last);
}

// What the writer thread pays for each write of the results: the file's
// bytes written with the same atomic replace.
void BM_WriteFileAtomically(benchmark::State& state) {
    std::string data;
    std::string path;
    try {
        const std::string& source = g_files->fileFor(static_cast<int>(state.range(0)));
        auto text = vantor::app::ReadWholeFile(source);
        if (!text) {
            throw std::runtime_error(text.error());
        }
        data = std::move(text.value());
        path = source + ".copy";
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    for (auto _ : state) {
        const vantor::Status status = vantor::app::WriteFileAtomically(path, data);
        if (!status) {
            state.SkipWithError(status.error().c_str());
            return;
        }
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}

// Loading the list at start-up: read, parse, check the root element.
void BM_OpenServiceFile(benchmark::State& state) {
    std::string path;
    try {
        path = g_files->fileFor(static_cast<int>(state.range(0)));
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const long faultsBefore = MinorPageFaults();
    for (auto _ : state) {
        ServiceStore store(path);
        const vantor::Status status = store.OpenServiceFile(true);
        if (!status) {
            state.SkipWithError(status.error().c_str());
            return;
        }
        benchmark::DoNotOptimize(store.isActive());
    }
    state.counters["page_faults"] = benchmark::Counter(
        static_cast<double>(MinorPageFaults() - faultsBefore), benchmark::Counter::kAvgIterations);
}

// What a scheduler tick reads of every record.
void BM_WalkRecords(benchmark::State& state) {
    const auto store = OpenStore(state);
    if (!store) {
        return;
    }
    const int count = static_cast<int>(state.range(0));
    std::size_t lastWalk = 0;
    for (auto _ : state) {
        const std::vector<ServiceRecord> records = store->records();
        for (const ServiceRecord& record : records) {
            benchmark::DoNotOptimize(record.key());
            benchmark::DoNotOptimize(record.text("service"));
            benchmark::DoNotOptimize(record.text("ip"));
            benchmark::DoNotOptimize(record.text("port"));
            benchmark::DoNotOptimize(record.text("status"));
            benchmark::DoNotOptimize(record.text("schedule_by"));
            benchmark::DoNotOptimize(record.text("schedule_hour"));
            benchmark::DoNotOptimize(record.text("schedule_minute"));
        }
        lastWalk = records.size();
    }
    if (lastWalk != static_cast<std::size_t>(count)) {
        state.SkipWithError("records() returned the wrong number of records");
        return;
    }
    state.SetItemsProcessed(state.iterations() * count);
}

double Min(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double Max(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

BENCHMARK(BM_FindService)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindServiceMissing)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetServiceResult)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", Min)
    ->ComputeStatistics("max", Max);
BENCHMARK(BM_SetServiceResultWhileWriting)
    ->Arg(10000)
    ->Iterations(20000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteFileAtomically)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("min", Min)
    ->ComputeStatistics("max", Max);
BENCHMARK(BM_OpenServiceFile)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkRecords)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

std::string FileSystemName(const std::string& dir) {
    struct statfs fs {};
    if (::statfs(dir.c_str(), &fs) != 0) {
        return "unknown";
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0xEF53UL:
            return "ext2/3/4";
        case 0x01021994UL:
            return "tmpfs (fsync does not reach a disk)";
        case 0x58465342UL:
            return "xfs";
        case 0x9123683EUL:
            return "btrfs";
        case 0x794C7630UL:
            return "overlayfs";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(fs.f_type));
            return text;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    try {
        StoreFiles files;
        g_files = &files;
        benchmark::AddCustomContext("store_dir", files.dir());
        benchmark::AddCustomContext("store_filesystem", FileSystemName(files.dir()));
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_files = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_store: %s\n", e.what());
        return 1;
    }
    return 0;
}
