// The extended query end to end against the project's responder: UTC offsets to well under a
// millisecond, every reason, forged and stray datagrams, the time limit, samples, threads, bad
// arguments, IPv6, and the four old functions beside it in the same process. The responder
// listens on 127.0.0.1, where Wine sends from too (it sends every loopback datagram from there).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "library/outcomes.h"
#include "library/sntpclient.h"
#include "tests/support/fixture.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using testing_support::Responder;
using testing_support::ResponderScript;
using testing_support::Stopwatch;

SNTPResult NewResult() {
    SNTPResult r;
    std::memset(&r, 0xA5, sizeof r);  // every byte must be written
    r.size = sizeof r;
    return r;
}

SNTPOptions Options(std::uint32_t timeoutMs = 0, std::uint32_t samples = 0,
                    std::uint32_t intervalMs = 0) {
    SNTPOptions o;
    std::memset(&o, 0, sizeof o);
    o.size = sizeof o;
    o.timeout_ms = timeoutMs;
    o.samples = samples;
    o.interval_ms = intervalMs;
    return o;
}

std::string At(const Responder& server, const char* address = "127.0.0.1") {
    return std::string(address) + ":" + std::to_string(server.port());
}

void ExpectFailureZeros(const SNTPResult& r) {
    EXPECT_EQ(r.offset, 0.0);
    EXPECT_EQ(r.delay, 0.0);
    EXPECT_EQ(r.root_delay, 0.0);
    EXPECT_EQ(r.root_dispersion, 0.0);
    EXPECT_EQ(r.server_time_ns, 0);
    EXPECT_EQ(r.samples, 0);
}

TEST(ExtendedQuery, UtcOffsetOfAServerWithAKnownSkew) {
    for (double skew : {0.0, 1.234567, -3600.5, 12.0 * 365 * 86400}) {
        SCOPED_TRACE(skew);
        ResponderScript script;
        script.skewSeconds = skew;
        Responder server("127.0.0.1", 0, script);
        SNTPResult r = NewResult();
        const double before = testing_support::UnixSecondsNow();
        ASSERT_EQ(QueryServerEx(At(server).c_str(), nullptr, &r), 0) << SNTPReasonText(r.reason);
        EXPECT_EQ(r.reason, SNTP_REASON_OK);
        // The responder's clock is this machine's plus the skew. SNTP's error is at most half the
        // round trip: on loopback that is tens of microseconds natively (bench/ measures it), more
        // under Wine, whose threads wake late; the bound catches a wrong formula or era.
        EXPECT_NEAR(r.offset, skew, r.delay / 2 + 0.001);
        EXPECT_GE(r.delay, 0.0);
        EXPECT_LT(r.delay, 0.1);
        EXPECT_NEAR(static_cast<double>(r.server_time_ns) / 1e9, before + skew, 1.0);
        EXPECT_EQ(r.stratum, 2);
        EXPECT_EQ(r.leap, 0);
        EXPECT_EQ(r.version, 4);
        EXPECT_EQ(r.poll, 6);
        EXPECT_EQ(r.precision, -20);
        EXPECT_EQ(r.reference_id, 0x54455354u);  // "TEST"
        EXPECT_STREQ(r.kiss_code, "");
        EXPECT_STREQ(r.address, "127.0.0.1");
        EXPECT_EQ(r.samples, 1);
        EXPECT_EQ(r.root_dispersion, 1.0 / 16);
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

// The request: NTPv4, mode 3, every field zero but a transmit value that is new every time and
// is not the clock.
TEST(ExtendedQuery, RequestCarriesAFreshRandomTransmitValue) {
    Responder server("127.0.0.1", 0);
    for (int i = 0; i < 3; ++i) {
        SNTPResult r = NewResult();
        QueryServerEx(At(server).c_str(), nullptr, &r);
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    std::vector<std::vector<std::uint8_t>> values;
    for (const auto& request : requests) {
        ASSERT_EQ(request.bytes.size(), 48u);
        EXPECT_EQ(request.bytes[0], 0x23) << "leap 0, version 4, mode 3";
        for (int i = 1; i < 40; ++i) EXPECT_EQ(request.bytes[i], 0) << "byte " << i;
        values.emplace_back(request.bytes.begin() + 40, request.bytes.end());
    }
    EXPECT_NE(values[0], values[1]);
    EXPECT_NE(values[1], values[2]);
    // Not the clock: the seconds field of a clock reading now would start with E_ or so.
    const double nowNtp = testing_support::UnixSecondsNow() + 2208988800.0;
    int nearTheClock = 0;
    for (const auto& v : values) {
        const std::uint32_t seconds = (std::uint32_t{v[0]} << 24) | (v[1] << 16) | (v[2] << 8) | v[3];
        nearTheClock += std::fabs(static_cast<double>(seconds) - std::fmod(nowNtp, 4294967296.0)) < 60;
    }
    EXPECT_EQ(nearTheClock, 0);
}

// A reply from another port, or one whose origin is not this request's, neither ends nor changes
// the query: the true reply that follows is taken.
TEST(ExtendedQuery, ForgedAndStrayDatagramsAreIgnored) {
    ResponderScript script;
    script.strayFirst = true;
    script.lengths = {47, 48};  // a short one first too
    script.gapMs = 50;
    script.skewSeconds = 5.0;
    Responder server("127.0.0.1", 0, script);
    SNTPResult r = NewResult();
    ASSERT_EQ(QueryServerEx(At(server).c_str(), nullptr, &r), 0) << SNTPReasonText(r.reason);
    EXPECT_GT(r.delay, 0.040) << "the reply taken is the one 50 ms after the others";
    // Those 50 ms lie on the way back alone: the offset is half of them off, as SNTP's is.
    EXPECT_NEAR(r.offset + r.delay / 2, 5.0, 0.02);
}

TEST(ExtendedQuery, EveryReasonOfAnAnswer) {
    const struct {
        const char* name;
        void (*change)(ResponderScript&);
        std::uint16_t reason;
        const char* kiss;
    } cases[] = {
        {"kiss-o'-death RATE", [](ResponderScript& s) {
             s.stratum = 0;
             s.edit = [](sntp::Message& m) { std::memcpy(&m[sntp::kReferenceId], "RATE", 4); };
         }, SNTP_REASON_KISS, "RATE"},
        {"kiss-o'-death DENY", [](ResponderScript& s) {
             s.stratum = 0;
             s.edit = [](sntp::Message& m) { std::memcpy(&m[sntp::kReferenceId], "DENY", 4); };
         }, SNTP_REASON_KISS, "DENY"},
        {"leap 3", [](ResponderScript& s) { s.leap = 3; }, SNTP_REASON_UNSYNCHRONISED, ""},
        {"stratum 16", [](ResponderScript& s) { s.stratum = 16; }, SNTP_REASON_UNSYNCHRONISED, ""},
        {"no transmit time", [](ResponderScript& s) {
             s.edit = [](sntp::Message& m) {
                 std::fill(m.begin() + sntp::kTransmitTimestamp, m.end(), 0);
             };
         }, SNTP_REASON_BAD_REPLY, ""},
        {"sent before it was received", [](ResponderScript& s) {
             s.edit = [](sntp::Message& m) { m[sntp::kReceiveTimestamp + 3] += 1; };
         }, SNTP_REASON_BAD_REPLY, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResponderScript script;
        c.change(script);
        Responder server("127.0.0.1", 0, script);
        SNTPResult r = NewResult();
        EXPECT_EQ(QueryServerEx(At(server).c_str(), nullptr, &r), 3);
        EXPECT_EQ(r.outcome, 3);
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_STREQ(r.kiss_code, c.kiss);
        ExpectFailureZeros(r);
        EXPECT_STREQ(r.address, "127.0.0.1");
        if (c.reason != SNTP_REASON_KISS) {
            EXPECT_NE(r.stratum, 0);  // what the reply said
        }
    }
}

TEST(ExtendedQuery, ReasonsOfTheNetwork) {
    // Silence: the limit of the exchange, and the address asked.
    Responder silent("127.0.0.1", 0, testing_support::SilentScript());
    SNTPOptions o = Options(300);
    SNTPResult r = NewResult();
    Stopwatch watch;
    EXPECT_EQ(QueryServerEx(At(silent).c_str(), &o, &r), 1);
    EXPECT_GE(watch.ms(), 290);
    EXPECT_LT(watch.ms(), 2000);
    EXPECT_EQ(r.reason, SNTP_REASON_TIMEOUT);
    EXPECT_STREQ(r.address, "127.0.0.1");
    ExpectFailureZeros(r);
    // IPv4 text asked for IPv6 only has no address of that family (no name service is asked).
    o = Options();
    o.family = 6;
    r = NewResult();
    EXPECT_EQ(QueryServerEx("127.0.0.1", &o, &r), 3);
    EXPECT_EQ(r.reason, SNTP_REASON_RESOLVE);
    // A broadcast address cannot be sent to without asking for it: the send fails.
    r = NewResult();
    EXPECT_EQ(QueryServerEx("255.255.255.255", nullptr, &r), 2);
    EXPECT_EQ(r.reason, SNTP_REASON_NETWORK);
}

TEST(ExtendedQuery, BadArguments) {
    SNTPResult r = NewResult();
    SNTPOptions o = Options();
    const char* texts[] = {nullptr, "", "[::1", "[127.0.0.1]:123", "host:", "host:0",
                           "host:65536", "host:12a", "[::1]x", "a b", "[]:123"};
    for (const char* text : texts) {
        r = NewResult();
        EXPECT_EQ(QueryServerEx(text, nullptr, &r), 3) << (text ? text : "null");
        EXPECT_EQ(r.reason, SNTP_REASON_BAD_ARGUMENT) << (text ? text : "null");
    }
    const struct {
        const char* name;
        void (*change)(SNTPOptions&);
    } options[] = {
        {"nine samples", [](SNTPOptions& x) { x.samples = 9; }},
        {"family 5", [](SNTPOptions& x) { x.family = 5; }},
        {"options too small", [](SNTPOptions& x) { x.size = sizeof(SNTPOptions) - 1; }},
    };
    for (const auto& c : options) {
        o = Options();
        c.change(o);
        r = NewResult();
        EXPECT_EQ(QueryServerEx("127.0.0.1", &o, &r), 3) << c.name;
        EXPECT_EQ(r.reason, SNTP_REASON_BAD_ARGUMENT) << c.name;
        EXPECT_EQ(r.size, sizeof r) << "the caller's size is kept";
    }
    // A result too small is not written at all; a null one neither.
    SNTPResult small = NewResult();
    small.size = sizeof small - 1;
    const SNTPResult before = small;
    EXPECT_EQ(QueryServerEx("127.0.0.1", nullptr, &small), 3);
    EXPECT_EQ(std::memcmp(&small, &before, sizeof small), 0);
    EXPECT_EQ(QueryServerEx("127.0.0.1", nullptr, nullptr), 3);
    // A larger one (a later version's) is accepted, and what lies past this version is left.
    struct Larger {
        SNTPResult result;
        std::uint8_t more[16];
    } larger;
    std::memset(&larger, 0x5A, sizeof larger);
    larger.result.size = sizeof larger;
    EXPECT_EQ(QueryServerEx("", nullptr, &larger.result), 3);
    EXPECT_EQ(larger.result.reason, SNTP_REASON_BAD_ARGUMENT);
    for (std::uint8_t b : larger.more) EXPECT_EQ(b, 0x5A);
    for (std::uint16_t reason = 0; reason < 10; ++reason) EXPECT_NE(SNTPReasonText(reason), nullptr);
    EXPECT_STRNE(SNTPReasonText(7), SNTPReasonText(99));
}

// Samples: the reply with the smallest delay is reported; a kiss-o'-death ends the series.
TEST(ExtendedQuery, SamplesReportTheLeastDelayedReply) {
    ResponderScript script;
    script.delaysMs = {200, 5, 150, 100};
    Responder server("127.0.0.1", 0, script);
    SNTPOptions o = Options(1000, 4, 10);
    SNTPResult r = NewResult();
    ASSERT_EQ(QueryServerEx(At(server).c_str(), &o, &r), 0);
    EXPECT_EQ(r.samples, 4);
    EXPECT_LT(r.delay, 0.090) << "the second reply, held 5 ms; the others 100 ms and more";
    EXPECT_EQ(server.requests().size(), 4u);

    ResponderScript kiss;
    kiss.stratum = 0;
    kiss.edit = [](sntp::Message& m) { std::memcpy(&m[sntp::kReferenceId], "RATE", 4); };
    Responder limited("127.0.0.1", 0, kiss);
    r = NewResult();
    EXPECT_EQ(QueryServerEx(At(limited).c_str(), &o, &r), 3);
    EXPECT_EQ(r.reason, SNTP_REASON_KISS);
    EXPECT_STREQ(r.kiss_code, "RATE");
    EXPECT_EQ(limited.requests().size(), 1u) << "a server that says RATE is not asked again";
}

// Eight threads at once: every call gets its own answer, and none waits for another (eight
// calls that each wait 500 ms for a silent server take 500 ms together, not 4 s).
TEST(ExtendedQuery, EightThreadsAtOnce) {
    ResponderScript script;
    script.skewSeconds = -2.5;
    Responder server("127.0.0.1", 0, script);
    Responder silent("127.0.0.1", 0, testing_support::SilentScript());
    for (const bool answered : {true, false}) {
        std::atomic<int> asExpected{0};
        std::vector<std::thread> threads;
        Stopwatch watch;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                SNTPResult r = NewResult();
                SNTPOptions o = Options(500);
                if (answered) {
                    asExpected += QueryServerEx(At(server).c_str(), &o, &r) == 0 &&
                                  std::fabs(r.offset + 2.5) < 0.05;
                } else {
                    asExpected += QueryServerEx(At(silent).c_str(), &o, &r) == 1;
                }
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(asExpected, 8) << (answered ? "answered" : "silent");
        if (!answered) {
            EXPECT_LT(watch.ms(), 2000) << "none waits for another";
        }
    }
}

// The four old functions are untouched by the extended query in the same process.
TEST(ExtendedQuery, OldFunctionsBesideIt) {
    REQUIRE_PORT_123();
    testing_support::FakePlatform fake;
    fake.SetLocalDateTime(testing_support::UtcDayValueNow);
    Responder server("127.0.0.1", 0);
    SNTPResult r = NewResult();
    ASSERT_EQ(QueryServerEx(At(server).c_str(), nullptr, &r), 0);
    double offset = 0;
    EXPECT_EQ(QueryServer("unknown.test", &offset), outcome::kNotResolvable);
    EXPECT_EQ(offset, -1000.0);
    SNTPCleanUp();
    EXPECT_EQ(QueryServerEx(At(server).c_str(), nullptr, &r), 0);
}

#ifndef _WIN32
// IPv6: a responder of this test's own on ::1 (the project's responder speaks IPv4).
TEST(ExtendedQuery, IPv6) {
    const int fd = socket(AF_INET6, SOCK_DGRAM, 0);
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_addr = in6addr_loopback;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (fd >= 0) close(fd);
        GTEST_SKIP() << "skipped: no IPv6 loopback here";
    }
    socklen_t length = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
    const int port = ntohs(sa.sin6_port);
    std::thread server([fd] {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 3000) <= 0) return;
        std::uint8_t request[64];
        sockaddr_in6 from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from),
                                   &fromLength);
        if (n < 48) return;
        const double now = testing_support::UnixSecondsNow() + 7.0;
        const sntp::Message reply = Responder::BuildReply(ResponderScript{}, now, now, request);
        sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    });
    SNTPResult r = NewResult();
    const std::string text = "[::1]:" + std::to_string(port);
    const std::uint16_t code = QueryServerEx(text.c_str(), nullptr, &r);
    server.join();
    close(fd);
    EXPECT_EQ(code, 0) << SNTPReasonText(r.reason);
    EXPECT_NEAR(r.offset, 7.0, 0.005);
    EXPECT_STREQ(r.address, "::1");
}

// No privilege is needed: the query binds no port below 1024.
TEST(ExtendedQuery, AsAnUnprivilegedUser) {
    if (getuid() != 0) GTEST_SKIP() << "skipped: runs as root and drops to nobody";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "skipped: no user nobody";
    ResponderScript script;
    script.skewSeconds = 3.0;
    Responder server("127.0.0.1", 0, script);
    const std::string text = At(server);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(90);
        SNTPResult r = NewResult();
        const std::uint16_t code = QueryServerEx(text.c_str(), nullptr, &r);
        _exit(code == 0 && std::fabs(r.offset - 3.0) < 0.05 ? 0 : 10 + code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
