// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/Exposition.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace vantor::metrics {

namespace {

// Seconds given in microseconds, written from the integer: "0.0405",
// "12", "-0.000001".
struct Seconds {
    explicit Seconds(std::int64_t us) : micros(us) {}
    std::int64_t micros;
};

// Writes into a buffer that has room ahead of what is written: each sample
// makes room once and is then copied in without a check per piece.
// finish() sets the text's length; its memory stays for the next rendering.
class Writer {
public:
    explicit Writer(TextBuffer& out) : m_out(out) {}
    void room(std::size_t n) {
        if (m_pos + n > m_out.capacity()) {
            m_out.resize(m_pos);
            m_out.reserve(std::max(m_out.capacity() * 2, m_pos + n + 65536));
        }
    }
    void put(std::string_view text) {
        std::memcpy(m_out.data() + m_pos, text.data(), text.size());
        m_pos += text.size();
    }
    void put(char c) { m_out.data()[m_pos++] = c; }
    void integer(std::uint64_t value) {
        const auto [end, ec] =
            std::to_chars(m_out.data() + m_pos, m_out.data() + m_pos + 24, value);
        m_pos = static_cast<std::size_t>(end - m_out.data());
    }
    // Whole numbers (codes, flags, epoch seconds) as integers, the rest in
    // the shortest text that reads back as the value, in %g style
    // ("-1", "0.25", "1.1"), as Prometheus's own clients write them.
    void value(double v) {
        if (v == static_cast<double>(static_cast<std::int64_t>(v)) && v >= 0 && v < 9e15) {
            integer(static_cast<std::uint64_t>(v));
            return;
        }
        const auto [end, ec] = std::to_chars(m_out.data() + m_pos, m_out.data() + m_pos + 32, v,
                                             std::chars_format::general);
        m_pos = static_cast<std::size_t>(end - m_out.data());
    }
    void value(std::int64_t v) {
        if (v < 0) {
            put('-');
            integer(static_cast<std::uint64_t>(-v));
        } else {
            integer(static_cast<std::uint64_t>(v));
        }
    }
    void value(int v) { value(static_cast<std::int64_t>(v)); }
    void value(Seconds s) {
        std::int64_t micros = s.micros;
        if (micros < 0) {
            put('-');
            micros = -micros;
        }
        integer(static_cast<std::uint64_t>(micros / 1'000'000));
        std::int64_t fraction = micros % 1'000'000;
        if (fraction == 0) {
            return;
        }
        char digits[6];
        for (int i = 5; i >= 0; --i, fraction /= 10) {
            digits[i] = static_cast<char>('0' + fraction % 10);
        }
        std::size_t length = 6;
        while (digits[length - 1] == '0') {
            --length;
        }
        put('.');
        put(std::string_view(digits, length));
    }
    void finish() { m_out.resize(m_pos); }

private:
    TextBuffer& m_out;
    std::size_t m_pos = 0;
};

// Room enough for any value: 32 characters, and the line's punctuation.
constexpr std::size_t kValueRoom = 40;

// One family: its HELP and TYPE, then the samples `each` writes through
// `sample`; nothing at all when it writes none.
class Family {
public:
    Family(Writer& out, std::string_view name, std::string_view type, std::string_view help)
        : m_out(out), m_name(name), m_type(type), m_help(help) {}

    // labels: the sample's labels, already escaped and joined.
    template <typename Value>
    void sample(std::string_view labels, Value value) {
        header();
        m_out.room(m_name.size() + labels.size() + kValueRoom);
        m_out.put(m_name);
        if (!labels.empty()) {
            m_out.put('{');
            m_out.put(labels);
            m_out.put('}');
        }
        m_out.put(' ');
        m_out.value(value);
        m_out.put('\n');
    }
    // extra: one more label, already written as name="value".
    template <typename Value>
    void sample(std::string_view labels, std::string_view extra, Value value) {
        header();
        m_out.room(m_name.size() + labels.size() + extra.size() + kValueRoom);
        m_out.put(m_name);
        m_out.put('{');
        m_out.put(labels);
        m_out.put(',');
        m_out.put(extra);
        m_out.put("} ");
        m_out.value(value);
        m_out.put('\n');
    }
    void count(std::string_view labels, std::uint64_t value) {
        header();
        m_out.room(m_name.size() + labels.size() + kValueRoom);
        m_out.put(m_name);
        m_out.put('{');
        m_out.put(labels);
        m_out.put("} ");
        m_out.integer(value);
        m_out.put('\n');
    }

private:
    void header() {
        if (m_started) {
            return;
        }
        m_started = true;
        m_out.room(2 * m_name.size() + m_help.size() + m_type.size() + 20);
        m_out.put("# HELP ");
        m_out.put(m_name);
        m_out.put(' ');
        m_out.put(m_help);
        m_out.put("\n# TYPE ");
        m_out.put(m_name);
        m_out.put(' ');
        m_out.put(m_type);
        m_out.put('\n');
    }

    Writer& m_out;
    std::string_view m_name;
    std::string_view m_type;
    std::string_view m_help;
    bool m_started = false;
};

// FNV-1a, 32 bits (of the address's bytes, as blackbox hashes them).
std::uint32_t Fnv1a32(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string ServiceLabels(const ServiceMetrics& s) {
    return "instance=\"" + EscapeLabelValue(s.instance) + "\",module=\"" +
           EscapeLabelValue(s.module) + "\",key=\"" + EscapeLabelValue(s.key) + "\"";
}

std::string RenderExposition(const std::vector<const ServiceMetrics*>& services,
                             const AlarmCounts& alarms) {
    TextBuffer out;
    RenderExposition(services, alarms, out);
    return std::string(out.view());
}

void RenderExposition(const std::vector<const ServiceMetrics*>& services, const AlarmCounts& alarms,
                      TextBuffer& text) {
    Writer out(text);
    // The labels every service's samples carry, escaped once (held in
    // `made` where the service keeps none: reserved, so the views stay).
    std::vector<std::string> made;
    made.reserve(services.size());
    std::vector<std::string_view> labels;
    labels.reserve(services.size());
    for (const ServiceMetrics* s : services) {
        if (s->labels.empty()) {
            made.push_back(ServiceLabels(*s));
        }
        labels.push_back(s->labels.empty() ? std::string_view(made.back()) : s->labels);
    }
    // Each sample makes room for itself; memory used before (the last text
    // of about the same size) is written over without being cleared first.
    using Verdict = ServiceMetrics::Verdict;
    // A family over the services with a verdict.
    const auto each = [&](std::string_view name, std::string_view help, const auto& write) {
        Family family(out, name, "gauge", help);
        for (std::size_t i = 0; i < services.size(); ++i) {
            if (services[i]->last) {
                write(family, labels[i], *services[i]->last);
            }
        }
    };

    each("probe_success",
         "Whether the last scheduled check of the service passed (1) or failed (0).",
         [](Family& f, std::string_view l, const Verdict& v) { f.sample(l, v.success ? 1 : 0); });
    each("probe_duration_seconds",
         "How long the last scheduled check of the service took, in seconds.",
         [](Family& f, std::string_view l, const Verdict& v) {
             f.sample(l, Seconds(v.durationUs));
         });
    each("probe_dns_lookup_time_seconds",
         "How long the name lookup of the last scheduled check took, in seconds.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.dnsLookupUs) {
                 f.sample(l, Seconds(*v.probe.dnsLookupUs));
             }
         });
    each("probe_ip_protocol",
         "The IP version (4 or 6) of the address the last scheduled check reached.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.ipProtocol) {
                 f.sample(l, *v.probe.ipProtocol);
             }
         });
    each("probe_ip_addr_hash",
         "A hash of the address the last scheduled check reached: it changes when the address "
         "does.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.ipLength > 0) {
                 f.sample(l, static_cast<std::int64_t>(Fnv1a32(std::string_view(
                                 reinterpret_cast<const char*>(v.probe.ipBytes.data()),
                                 v.probe.ipLength))));
             }
         });
    each("probe_http_status_code",
         "The status code of the last HTTP answer of the last scheduled check (0: no answer).",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.http) {
                 f.sample(l, v.probe.http->statusCode);
             }
         });
    each("probe_http_content_length",
         "The Content-Length of the last HTTP answer of the last scheduled check (-1: none).",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.http) {
                 f.sample(l, v.probe.http->contentLength);
             }
         });
    each("probe_http_uncompressed_body_length",
         "The bytes of the last HTTP answer's body that the last scheduled check received.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.http) {
                 f.sample(l, v.probe.http->bodyBytes);
             }
         });
    each("probe_http_version", "The HTTP version of the last answer of the last scheduled check.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.http && v.probe.http->version > 0) {
                 f.sample(l, v.probe.http->version);
             }
         });
    each("probe_http_ssl",
         "Whether the last HTTP request of the last scheduled check went over TLS (1) or not (0).",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.http) {
                 f.sample(l, v.probe.http->ssl ? 1 : 0);
             }
         });
    each("probe_http_redirects", "The redirects the last scheduled check followed.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.http) {
                 f.sample(l, v.probe.http->redirects);
             }
         });
    each("probe_http_duration_seconds",
         "The phases of the last scheduled check's HTTP requests, summed over its redirects, in "
         "seconds.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (!v.probe.http) {
                 return;
             }
             const auto& h = *v.probe.http;
             f.sample(l, R"(phase="resolve")", Seconds(h.resolveUs));
             f.sample(l, R"(phase="connect")", Seconds(h.connectUs));
             f.sample(l, R"(phase="tls")", Seconds(h.tlsUs));
             f.sample(l, R"(phase="processing")", Seconds(h.processingUs));
             f.sample(l, R"(phase="transfer")", Seconds(h.transferUs));
         });
    each("probe_ssl_earliest_cert_expiry",
         "When the first certificate to expire in the server's chain ends, in Unix seconds, as "
         "the last scheduled check saw it.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (v.probe.certNotAfter) {
                 f.sample(l, *v.probe.certNotAfter);
             }
         });
    each("probe_tls_version_info", "The TLS version of the last scheduled check, as a label.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (!v.probe.tlsVersion.empty()) {
                 f.sample(l, "version=\"" + EscapeLabelValue(v.probe.tlsVersion) + "\"", 1);
             }
         });
    each("probe_icmp_duration_seconds",
         "The phases of the last scheduled echo request, in seconds.",
         [](Family& f, std::string_view l, const Verdict& v) {
             if (!v.probe.icmp) {
                 return;
             }
             f.sample(l, R"(phase="resolve")", Seconds(v.probe.icmp->resolveUs));
             f.sample(l, R"(phase="setup")", Seconds(v.probe.icmp->setupUs));
             f.sample(l, R"(phase="rtt")", Seconds(v.probe.icmp->rttUs));
         });
    each("vantor_last_check_timestamp_seconds",
         "When the last scheduled check of the service came back, in Unix seconds.",
         [](Family& f, std::string_view l, const Verdict& v) { f.sample(l, v.time); });

    {
        Family uptime(out, "vantor_uptime_ratio", "gauge",
                      "The share of the service's checks that passed over the window, from the "
                      "result history.");
        for (std::size_t i = 0; i < services.size(); ++i) {
            if (services[i]->uptime24h) {
                uptime.sample(labels[i], R"(window="24h")", *services[i]->uptime24h);
            }
            if (services[i]->uptime30d) {
                uptime.sample(labels[i], R"(window="30d")", *services[i]->uptime30d);
            }
        }
    }
    {
        Family alarmed(out, "vantor_alarm_active", "gauge",
                       "Whether a failure alarm of the service went out and its recovery has not "
                       "yet (1) or not (0).");
        for (std::size_t i = 0; i < services.size(); ++i) {
            alarmed.sample(labels[i], services[i]->alarmed ? 1 : 0);
        }
    }
    {
        Family checks(out, "vantor_checks_total", "counter",
                      "The final verdicts of the service's checks since the program started.");
        for (std::size_t i = 0; i < services.size(); ++i) {
            checks.count(labels[i], services[i]->checks);
        }
    }
    {
        Family info(out, "vantor_service_info", "gauge",
                    "A watched service and its schedule; the value is always 1.");
        for (std::size_t i = 0; i < services.size(); ++i) {
            info.sample(labels[i], "schedule=\"" + EscapeLabelValue(services[i]->schedule) + "\"",
                        1);
        }
    }
    {
        Family sent(out, "vantor_alarms_sent_total", "counter",
                    "Alarm notices sent since the program started, by method.");
        for (std::size_t m = 0; m < kMethodLabels.size(); ++m) {
            sent.count("method=\"" + std::string(kMethodLabels[m]) + "\"", alarms.sent[m]);
        }
        Family failed(out, "vantor_alarms_failed_total", "counter",
                      "Alarm notices that could not be sent since the program started, by method.");
        for (std::size_t m = 0; m < kMethodLabels.size(); ++m) {
            failed.count("method=\"" + std::string(kMethodLabels[m]) + "\"", alarms.failed[m]);
        }
    }
    out.finish();
}

}  // namespace vantor::metrics
