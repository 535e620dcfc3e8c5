// The number library beside GMP on the same values, and the tally's per-frame arithmetic.
// Prints a table of time ratios after the usual benchmark output.
#include <benchmark/benchmark.h>
#include <gmp.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/tally.h"
#include "lib/biginteger.h"
#include "tests/bench_main.h"

namespace {

using lib::biginteger;

const int kLimbCounts[] = {1, 2, 3, 32, 256};
constexpr double kFrameBarNs = 5000;

std::vector<std::uint32_t> random_limbs(int count, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<std::uint32_t> limbs(count);
    for (std::uint32_t& w : limbs) w = gen();
    limbs.back() |= 0x80000000u;
    return limbs;
}

biginteger make_ours(const std::vector<std::uint32_t>& limbs, int sign)
{
    lib::uint m;
    m.reserve_discard(static_cast<std::uint32_t>(limbs.size()));
    m.size = static_cast<std::uint32_t>(limbs.size());
    std::memcpy(m.limbs, limbs.data(), limbs.size() * sizeof(std::uint32_t));
    return biginteger::from_uint_sign(m, sign);
}

struct Gmp {
    mpz_t v;
    Gmp() { mpz_init(v); }
    Gmp(const std::vector<std::uint32_t>& limbs, int sign)
    {
        mpz_init(v);
        mpz_import(v, limbs.size(), -1, sizeof(std::uint32_t), 0, 0, limbs.data());
        if (sign < 0) mpz_neg(v, v);
    }
    ~Gmp() { mpz_clear(v); }
    Gmp(const Gmp&) = delete;
    Gmp& operator=(const Gmp&) = delete;
};

// The operands: a dividend of n limbs (negative, so that the floored division has work to
// do), an addend of n limbs and a divisor of about half as many.
struct Operands {
    std::vector<std::uint32_t> a, b, d;
    explicit Operands(int n)
        : a(random_limbs(n, 11u * n)), b(random_limbs(n, 13u * n)), d(random_limbs(n > 1 ? n / 2 : 1, 17u * n))
    {
    }
};

void ours_add(benchmark::State& state, int n)
{
    Operands o(n);
    const biginteger a = make_ours(o.a, -1), b = make_ours(o.b, 1);
    biginteger r;
    for (auto _ : state) {
        biginteger::add(r, a, b);
        benchmark::DoNotOptimize(r.magnitude.limbs);
    }
}

void gmp_add(benchmark::State& state, int n)
{
    Operands o(n);
    Gmp a(o.a, -1), b(o.b, 1), r;
    for (auto _ : state) {
        mpz_add(r.v, a.v, b.v);
        benchmark::DoNotOptimize(r.v);
    }
}

void ours_divide(benchmark::State& state, int n)
{
    Operands o(n);
    const biginteger a = make_ours(o.a, -1), d = make_ours(o.d, 1);
    biginteger r, q;
    for (auto _ : state) {
        r = a;
        r.divide(d, q);
        benchmark::DoNotOptimize(q.magnitude.limbs);
    }
}

void gmp_divide(benchmark::State& state, int n)
{
    Operands o(n);
    Gmp a(o.a, -1), d(o.d, 1), q, r;
    for (auto _ : state) {
        mpz_fdiv_qr(q.v, r.v, a.v, d.v);
        benchmark::DoNotOptimize(q.v);
    }
}

void ours_to_str(benchmark::State& state, int n)
{
    const biginteger a = make_ours(Operands(n).a, -1);
    for (auto _ : state) {
        std::wstring text = a.to_str();
        benchmark::DoNotOptimize(text.data());
    }
}

void gmp_to_str(benchmark::State& state, int n)
{
    Gmp a(Operands(n).a, -1);
    std::vector<char> buffer(mpz_sizeinbase(a.v, 10) + 2);
    for (auto _ : state) {
        mpz_get_str(buffer.data(), 10, a.v);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void ours_set_str(benchmark::State& state, int n)
{
    const std::wstring text = make_ours(Operands(n).a, -1).to_str();
    biginteger x;
    for (auto _ : state) {
        x.set_str(text);
        benchmark::DoNotOptimize(x.magnitude.limbs);
    }
}

void gmp_set_str(benchmark::State& state, int n)
{
    const std::wstring wide = make_ours(Operands(n).a, -1).to_str();
    const std::string text(wide.begin(), wide.end());
    Gmp x;
    for (auto _ : state) {
        mpz_set_str(x.v, text.c_str(), 10);
        benchmark::DoNotOptimize(x.v);
    }
}

// The tally's work for one frame: add the clock's delta, then make the display text
// "<days>day(s) HH:MM:SS", as Vornik does.
// Ten years of milliseconds, plus one day, one hour, one minute and one second.
constexpr std::uint64_t kTenYearsMs = (3652ull * 86400 + 86400 + 3661) * 1000;

biginteger ten_years()
{
    return make_ours({static_cast<std::uint32_t>(kTenYearsMs), static_cast<std::uint32_t>(kTenYearsMs >> 32)}, 1);
}

// About 4,000 digits, the most "data.txt" can hold: 10^3991 days and half a day.
biginteger huge_tally()
{
    biginteger days, half_day;
    days.set_str(L"1" + std::wstring(3991, L'0'));
    half_day.set_str(L"43200000");
    return days * biginteger::from_uint(lib::uint::from_word(86400000)) + half_day;
}

// Frames of 16 ms from the tally; the days it completes on the way are counted too.
void frames(benchmark::State& state, const biginteger& start)
{
    RunningTally tally;
    set_running_tally(tally, start);
    for (auto _ : state) {
        advance_running_tally(tally, 16);
        benchmark::DoNotOptimize(running_tally_text(tally).c_str());
    }
    if (running_tally_text(tally) != format_elapsed(running_tally_value(tally)))
        state.SkipWithError("the display text is wrong");
}

void ours_frame(benchmark::State& state, int)
{
    frames(state, ten_years());
    if (format_elapsed(ten_years()) != L"3653days 01:01:01") state.SkipWithError("the display text is wrong");
}

void huge_frame(benchmark::State& state, int) { frames(state, huge_tally()); }

void gmp_frame(benchmark::State& state, int)
{
    Gmp tally, t, r;
    mpz_set_ui(tally.v, static_cast<unsigned long>(kTenYearsMs));
    char buffer[64];
    for (auto _ : state) {
        mpz_add_ui(tally.v, tally.v, 16);
        mpz_fdiv_q_ui(t.v, tally.v, 1000);
        std::string result;
        const unsigned long divisors[] = {60, 60, 24};
        for (unsigned long d : divisors) {
            mpz_fdiv_qr_ui(t.v, r.v, t.v, d);
            mpz_get_str(buffer, 10, r.v);
            std::string part = buffer[1] ? buffer : std::string("0") + buffer;
            result = result.empty() ? part : part + ":" + result;
        }
        mpz_get_str(buffer, 10, t.v);
        result = buffer + std::string(mpz_cmp_ui(t.v, 1) > 0 ? "days " : "day ") + result;
        benchmark::DoNotOptimize(result.data());
    }
}

// Collects the mean real time of every run to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }

    void PrintRatios() const
    {
        std::printf("\n%-10s %6s %16s %16s %10s\n", "operation", "limbs", "ours (ns)", "GMP (ns)", "ours/GMP");
        for (const char* op : {"add", "divide", "to_str", "set_str"}) {
            for (int n : kLimbCounts) PrintRow(op, n);
        }
        PrintRow("frame", 2);
        const auto frame = times_.find("frame/ours/2");
        if (frame != times_.end())
            std::printf("\nper-frame tally arithmetic: %.0f ns, bar %.0f ns: %s\n", frame->second, kFrameBarNs,
                        frame->second < kFrameBarNs ? "within" : "OVER");
        // The anchor of the 4,000-digit tally's frame is the ordinary tally's frame.
        const auto huge = times_.find("frame/huge/4000");
        if (frame != times_.end() && huge != times_.end())
            std::printf("per-frame, 4000-digit tally: %.0f ns, ordinary tally %.0f ns, ratio %.2f\n", huge->second,
                        frame->second, huge->second / frame->second);
    }

private:
    void PrintRow(const char* op, int n) const
    {
        const auto ours = times_.find(Name(op, "ours", n));
        const auto gmp = times_.find(Name(op, "gmp", n));
        if (ours == times_.end() || gmp == times_.end()) return;
        std::printf("%-10s %6d %16.1f %16.1f %10.1f\n", op, n, ours->second, gmp->second, ours->second / gmp->second);
        RecordRatio((std::string(op) + " " + std::to_string(n) + " limbs").c_str(), "GMP", gmp->second / ours->second);
    }

    std::map<std::string, double> times_;

public:
    static std::string Name(const char* op, const char* who, int n)
    {
        return std::string(op) + "/" + who + "/" + std::to_string(n);
    }
};

void Register(const char* op, void (*ours)(benchmark::State&, int), void (*gmp)(benchmark::State&, int), int n)
{
    benchmark::RegisterBenchmark(RatioReporter::Name(op, "ours", n).c_str(), ours, n)->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark(RatioReporter::Name(op, "gmp", n).c_str(), gmp, n)->Unit(benchmark::kNanosecond);
}

}  // namespace

int main(int argc, char** argv)
{
    for (int n : kLimbCounts) {
        Register("add", ours_add, gmp_add, n);
        Register("divide", ours_divide, gmp_divide, n);
        Register("to_str", ours_to_str, gmp_to_str, n);
        Register("set_str", ours_set_str, gmp_set_str, n);
    }
    Register("frame", ours_frame, gmp_frame, 2);
    benchmark::RegisterBenchmark("frame/huge/4000", huge_frame, 4000)->Unit(benchmark::kNanosecond);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
