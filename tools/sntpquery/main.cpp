// sntpquery: asks time servers through the library, in the manner of the time tools people know.
// By default through the extended query (UTC, seconds, one line per host); with --legacy through
// QueryServer (the old outcome and the offset in days against local time); with --stripchart a
// query every interval with a bar that shows the offset, and a summary at the end.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "library/outcomes.h"
#include "library/sntpclient.h"

#ifndef SNTP_VERSION
#define SNTP_VERSION "unknown"
#endif

namespace {

constexpr int kBadUsage = 64;

const char kUsage[] =
    "usage: sntpquery [options] HOST...\n"
    "Asks each SNTP server HOST (a name, IPv4 or IPv6 text, optionally host:port or [v6]:port)\n"
    "for its time and prints a line per host: the address that answered, the offset of its clock\n"
    "from this machine's UTC clock in seconds, the round-trip delay and the server's stratum, or\n"
    "why there is no time.\n"
    "\n"
    "  -j, --json           one JSON object per host, with every field of the result\n"
    "  -q, --quiet          print nothing; the exit status tells\n"
    "  -t, --timeout MS     limit of each exchange (default 4000)\n"
    "  -n, --samples N      exchanges per host, 1 to 8; the least-delayed is reported (default 1)\n"
    "  -4, -6               IPv4 or IPv6 only\n"
    "  -p, --port PORT      server port (default 123; a port in HOST wins)\n"
    "      --legacy         ask through QueryServer: the old outcome and the offset in days\n"
    "                       against local time, port 123, IPv4, 4000 ms\n"
    "      --stripchart     ask the first HOST every interval; each line shows the offset and a\n"
    "                       bar of its distance from the median so far (the scale widens to the\n"
    "                       largest distance, 1 ms at least); at the end the minimum, median,\n"
    "                       maximum and jitter (standard deviation) of the offset\n"
    "      --interval S     seconds between stripchart samples (default 1)\n"
    "      --count N        stop the stripchart after N samples (default: until interrupted)\n"
    "  -h, --help           this text\n"
    "  -V, --version        the version\n"
    "\n"
    "Exit status: 0 when every host gave a usable reply; else the outcome of the last failure\n"
    "(1 no reply in time, 2 socket error, 3 not resolvable or not usable); 64 for bad usage.\n";

struct Settings {
    bool json = false, quiet = false, legacy = false, stripchart = false;
    std::uint32_t timeoutMs = 0, samples = 0;
    std::uint16_t port = 0;
    std::uint8_t family = 0;
    double intervalSeconds = 1.0;
    long count = -1;  // stripchart samples; -1: until interrupted
    std::vector<std::string> hosts;
};

volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

bool ParseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= low && value <= high;
}

// Parses the command line; false (with a message on stderr) for bad usage.
bool Parse(int argc, char** argv, Settings& s, bool& help, bool& version) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](double low, double high, double& out) {
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], low, high, out)) {
                std::fprintf(stderr, "sntpquery: %s needs a number from %g to %g\n", a.c_str(), low, high);
                return false;
            }
            ++i;
            return true;
        };
        double v = 0;
        if (a == "-h" || a == "--help") {
            help = true;
        } else if (a == "-V" || a == "--version") {
            version = true;
        } else if (a == "-j" || a == "--json") {
            s.json = true;
        } else if (a == "-q" || a == "--quiet") {
            s.quiet = true;
        } else if (a == "-4" || a == "-6") {
            s.family = a == "-4" ? 4 : 6;
        } else if (a == "--legacy") {
            s.legacy = true;
        } else if (a == "--stripchart") {
            s.stripchart = true;
        } else if (a == "-t" || a == "--timeout") {
            if (!value(1, 3600000, v)) return false;
            s.timeoutMs = static_cast<std::uint32_t>(v);
        } else if (a == "-n" || a == "--samples") {
            if (!value(1, 8, v)) return false;
            s.samples = static_cast<std::uint32_t>(v);
        } else if (a == "-p" || a == "--port") {
            if (!value(1, 65535, v)) return false;
            s.port = static_cast<std::uint16_t>(v);
        } else if (a == "--interval") {
            if (!value(0.01, 86400, v)) return false;
            s.intervalSeconds = v;
        } else if (a == "--count") {
            if (!value(1, 1e9, v)) return false;
            s.count = static_cast<long>(v);
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "sntpquery: unknown option %s (see --help)\n", a.c_str());
            return false;
        } else {
            s.hosts.push_back(a);
        }
    }
    if (help || version) return true;
    if (s.hosts.empty()) {
        std::fprintf(stderr, "sntpquery: no HOST given (see --help)\n");
        return false;
    }
    if (s.legacy && (s.json || s.stripchart || s.timeoutMs || s.samples || s.port || s.family)) {
        std::fprintf(stderr, "sntpquery: --legacy takes no other query options\n");
        return false;
    }
    return true;
}

SNTPOptions OptionsOf(const Settings& s) {
    SNTPOptions o;
    std::memset(&o, 0, sizeof o);
    o.size = sizeof o;
    o.timeout_ms = s.timeoutMs;
    o.samples = s.samples;
    o.port = s.port;
    o.family = s.family;
    return o;
}

std::string JsonText(const char* text) {
    std::string out = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7E) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void PrintJson(const std::string& host, const SNTPResult& r) {
    const char id[5] = {static_cast<char>(r.reference_id >> 24), static_cast<char>(r.reference_id >> 16),
                        static_cast<char>(r.reference_id >> 8), static_cast<char>(r.reference_id), 0};
    std::printf(
        "{\"host\": %s, \"address\": %s, \"outcome\": %u, \"reason\": %u, \"reason_text\": %s, "
        "\"offset\": %.9f, \"delay\": %.9f, \"root_delay\": %.9f, \"root_dispersion\": %.9f, "
        "\"server_time_ns\": %lld, \"reference_id\": %s, \"stratum\": %u, \"leap\": %u, "
        "\"version\": %u, \"poll\": %d, \"precision\": %d, \"kiss_code\": %s, \"samples\": %u}\n",
        JsonText(host.c_str()).c_str(), JsonText(r.address).c_str(), r.outcome, r.reason,
        JsonText(SNTPReasonText(r.reason)).c_str(), r.offset, r.delay, r.root_delay,
        r.root_dispersion, static_cast<long long>(r.server_time_ns), JsonText(id).c_str(), r.stratum,
        r.leap, r.version, r.poll, r.precision, JsonText(r.kiss_code).c_str(), r.samples);
}

void PrintLine(const std::string& host, const SNTPResult& r) {
    const std::string where = r.address[0] != '\0' && host != r.address
                                  ? host + " (" + r.address + ")"
                                  : host;
    if (r.outcome == 0)
        std::printf("%s: offset %+.6f s, delay %.6f s, stratum %u\n", where.c_str(), r.offset,
                    r.delay, r.stratum);
    else if (r.kiss_code[0] != '\0')
        std::printf("%s: %s: %s\n", where.c_str(), SNTPReasonText(r.reason), r.kiss_code);
    else
        std::printf("%s: %s\n", where.c_str(), SNTPReasonText(r.reason));
}

int QueryHosts(const Settings& s) {
    int status = 0;
    const SNTPOptions options = OptionsOf(s);
    for (const std::string& host : s.hosts) {
        if (s.legacy) {
            double offset = 0.0;
            const unsigned code = QueryServer(host.c_str(), &offset);
            if (!s.quiet) {
                std::printf("outcome: %u (%s)\n", code, outcome::Meaning(static_cast<std::uint16_t>(code)));
                std::printf("offset: %.12f days (%.3f s)\n", offset, offset * 86400.0);
            }
            if (code != 0) status = static_cast<int>(code);
            continue;
        }
        SNTPResult r;
        std::memset(&r, 0, sizeof r);
        r.size = sizeof r;
        const unsigned code = QueryServerEx(host.c_str(), &options, &r);
        if (!s.quiet) (s.json ? PrintJson : PrintLine)(host, r);
        if (code != 0) status = static_cast<int>(code);
    }
    if (s.legacy) SNTPCleanUp();
    return status;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t k = values.size();
    return k % 2 ? values[k / 2] : (values[k / 2 - 1] + values[k / 2]) / 2;
}

// A bar of 41 characters: the middle is 0, the ends +-scale.
std::string Bar(double offset, double scale) {
    const int width = 41, middle = 20;
    std::string bar(width, ' ');
    bar[middle] = '|';
    int at = middle + static_cast<int>(std::lround(offset / scale * middle));
    char mark = '*';
    if (at < 0) at = 0, mark = '<';
    if (at >= width) at = width - 1, mark = '>';
    bar[at] = mark;
    return "[" + bar + "]";
}

int Stripchart(const Settings& s) {
    std::signal(SIGINT, OnInterrupt);
    const SNTPOptions options = OptionsOf(s);
    const std::string& host = s.hosts.front();
    std::vector<double> offsets;
    double scale = 0.001;  // grows to the largest distance from the median, to keep it in view
    int status = 0;
    for (long n = 0; !interrupted && (s.count < 0 || n < s.count); ++n) {
        if (n > 0) {
            // Sleep in short steps, so that an interruption ends the chart at once.
            const auto until = std::chrono::steady_clock::now() +
                               std::chrono::duration<double>(s.intervalSeconds);
            while (!interrupted && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (interrupted) break;
        }
        SNTPResult r;
        std::memset(&r, 0, sizeof r);
        r.size = sizeof r;
        const unsigned code = QueryServerEx(host.c_str(), &options, &r);
        const std::time_t now = std::time(nullptr);
        char clock[16];
        std::strftime(clock, sizeof clock, "%H:%M:%S", std::gmtime(&now));
        if (code != 0) {
            status = static_cast<int>(code);
            if (!s.quiet) std::printf("%s  %s: %s\n", clock, host.c_str(), SNTPReasonText(r.reason));
            std::fflush(stdout);
            continue;
        }
        offsets.push_back(r.offset);
        const double median = Median(offsets);
        for (double o : offsets) scale = std::max(scale, std::fabs(o - median));
        if (!s.quiet)
            std::printf("%s  %+.6f s  delay %.6f s  %s\n", clock, r.offset, r.delay,
                        Bar(r.offset - median, scale).c_str());
        std::fflush(stdout);
    }
    if (!offsets.empty()) {
        std::vector<double> sorted = offsets;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t k = sorted.size();
        const double median = Median(offsets);
        double mean = 0, spread = 0;
        for (double o : offsets) mean += o;
        mean /= static_cast<double>(k);
        for (double o : offsets) spread += (o - mean) * (o - mean);
        const double jitter = std::sqrt(spread / static_cast<double>(k));
        if (!s.quiet)
            std::printf("%zu samples: minimum %+.6f s, median %+.6f s, maximum %+.6f s, "
                        "jitter %.6f s\n",
                        k, sorted.front(), median, sorted.back(), jitter);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    bool help = false, version = false;
    if (!Parse(argc, argv, settings, help, version)) return kBadUsage;
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (version) {
        std::printf("sntpquery %s\n", SNTP_VERSION);
        return 0;
    }
    return settings.stripchart ? Stripchart(settings) : QueryHosts(settings);
}
