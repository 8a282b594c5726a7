// The pattern matcher against PCRE2 (interpreter and JIT) on generated catalogue pages: full
// scrapes (block, then every row with its three groups copied out), tag stripping, a list page
// on which the row pattern matches nowhere, and compiling the row pattern.
//
// Compilation is outside the scrape timings on both sides (measured on its own as
// compile_list). Each figure is the median of repeated runs in this process, in CPU time of
// the main thread (which runs with the default 8 MiB stack).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/allocation_counter.h"
#include "bench/measure.h"
#include "pattern/matcher.h"
#include "tests/support/scrape_pages.h"

namespace {

using djkivo::bench::PrintMeasure;
using djkivo::pattern::TPatternMatcher;
namespace pages = djkivo::test;

// CPU time of this thread: the build machine is shared, and wall time there mostly measures
// how long other processes held the core.
double ThreadMicros() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

double MedianMicros(int runs, const std::function<void()>& fn) {
  std::vector<double> times;
  fn();  // warm up caches and lazily built state
  for (int k = 0; k < runs; ++k) {
    const double t0 = ThreadMicros();
    fn();
    times.push_back(ThreadMicros() - t0);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// A compiled PCRE2 pattern, JIT or interpreter, scraping the way the program's scrapers do.
class Pcre2Scraper {
 public:
  Pcre2Scraper(const char* pattern, bool jit) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                          PCRE2_DOTALL, &error, &offset, nullptr);
    if (!code_) {
      std::fprintf(stderr, "pcre2 cannot compile %s\n", pattern);
      std::exit(1);
    }
    if (jit && pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) != 0) {
      std::fprintf(stderr, "pcre2 JIT unavailable\n");
      std::exit(1);
    }
    data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~Pcre2Scraper() {
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }

  // ReplaceAll's work with an empty replacement: the bytes between matches, in order.
  std::string RemoveAll(const std::string& text) {
    std::string out;
    PCRE2_SIZE offset = 0, done = 0;
    while (offset <= text.size()) {
      int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), offset, 0,
                           data_, nullptr);
      if (rc < 0)
        break;
      PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
      out.append(text, done, ov[0] - done);
      done = ov[1];
      offset = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    out.append(text, done, std::string::npos);
    return out;
  }

  // Every match from the start on; `groups` copied out of each. Returns the match count, or -1
  // when PCRE2 gave up (match or heap limit).
  int All(const std::string& text, int groups, std::vector<std::string>& out) {
    int count = 0;
    PCRE2_SIZE offset = 0;
    for (;;) {
      int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), offset, 0,
                           data_, nullptr);
      if (rc == PCRE2_ERROR_NOMATCH)
        return count;
      if (rc < 0)
        return -1;
      PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data_);
      for (int g = 1; g <= groups; ++g)
        out.emplace_back(text, ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
      ++count;
      offset = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
      if (offset > text.size())
        return count;
    }
  }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
};

int OursScrape(TPatternMatcher& block, TPatternMatcher& row, const std::string& page,
               std::vector<std::string>& out) {
  if (!block.Exec(page))
    return 0;
  int count = 0;
  for (bool found = row.Exec(block.GroupText(1)); found; found = row.ExecNext()) {
    out.push_back(row.GroupText(1));
    out.push_back(row.GroupText(2));
    out.push_back(row.GroupText(3));
    ++count;
  }
  return count;
}

int PcreScrape(Pcre2Scraper& block, Pcre2Scraper& row, const std::string& page,
               std::vector<std::string>& out) {
  std::vector<std::string> blocks;
  int found = block.All(page, 1, blocks);
  if (found <= 0)
    return found;
  return row.All(blocks[0], 3, out);
}

struct Result {
  std::string name;
  double ours, interp, jit;  // microseconds; interp/jit < 0 when PCRE2 gave up
  int rows;
};

// `pcre_runs`: PCRE2 on a page where it gives up spends its whole match limit every run.
Result Scrape(const std::string& name, const std::string& page, const char* block_pattern,
              const char* row_pattern, int runs, int pcre_runs = 0) {
  if (pcre_runs == 0)
    pcre_runs = runs;
  TPatternMatcher block, row;
  block.SetExpression(block_pattern);
  row.SetExpression(row_pattern);
  block.Compile();
  row.Compile();
  Pcre2Scraper block_jit(block_pattern, true), row_jit(row_pattern, true);
  Pcre2Scraper block_int(block_pattern, false), row_int(row_pattern, false);
  Result r{name, 0, 0, 0, 0};
  std::vector<std::string> ours_rows, jit_rows;
  r.rows = OursScrape(block, row, page, ours_rows);
  int jit_count = PcreScrape(block_jit, row_jit, page, jit_rows);
  if (jit_count >= 0 && (jit_count != r.rows || jit_rows != ours_rows)) {
    std::fprintf(stderr, "%s: results differ from PCRE2 (%d vs %d rows)\n", name.c_str(), r.rows,
                 jit_count);
    std::exit(1);
  }
  std::vector<std::string> sink;
  sink.reserve(ours_rows.size() + 16);
  r.ours = MedianMicros(runs, [&] {
    sink.clear();
    benchmark::DoNotOptimize(OursScrape(block, row, page, sink));
  });
  int gave_up = 0;
  r.jit = MedianMicros(pcre_runs, [&] {
    sink.clear();
    gave_up |= PcreScrape(block_jit, row_jit, page, sink) < 0;
  });
  if (gave_up)
    r.jit = -1;
  gave_up = 0;
  r.interp = MedianMicros(std::max(3, pcre_runs / 4), [&] {
    sink.clear();
    gave_up |= PcreScrape(block_int, row_int, page, sink) < 0;
  });
  if (gave_up)
    r.interp = -1;
  return r;
}

std::string Figure(double micros) {
  char text[32];
  if (micros < 0)
    return "gave up";
  std::snprintf(text, sizeof text, "%.1f", micros);
  return text;
}

}  // namespace

int main() {
  using namespace pages;
  std::vector<Result> results;
  auto list = [](int rows, bool broken) {
    PageOptions o;
    o.rows = rows;
    o.broken = broken;
    o.seed = static_cast<unsigned>(rows);
    return MakeListPage(o, nullptr);
  };
  auto search = [](int rows) {
    PageOptions o;
    o.rows = rows;
    o.seed = static_cast<unsigned>(rows) + 1;
    return MakeSearchPage(o, nullptr);
  };
  const int kRowsPer50k = 30;
  results.push_back(Scrape("scrape_list_50k", list(kRowsPer50k, false), kCategoryBlockPattern,
                           kCategoryRowPattern, 301));
  results.push_back(Scrape("scrape_list_1m", list(kRowsPer50k * 20, false), kCategoryBlockPattern,
                           kCategoryRowPattern, 31));
  results.push_back(Scrape("scrape_list_10m", list(kRowsPer50k * 200, false), kCategoryBlockPattern,
                           kCategoryRowPattern, 7));
  results.push_back(Scrape("scrape_search_50k", search(kRowsPer50k), kSearchBlockPattern,
                           kSearchRowPattern, 301));
  results.push_back(Scrape("scrape_search_1m", search(kRowsPer50k * 20), kSearchBlockPattern,
                           kSearchRowPattern, 31));
  {
    // The play page has one script; its pattern runs alone (no block).
    const std::string page = MakePlayPage(20000, 3, nullptr);
    TPatternMatcher ours;
    ours.SetExpression(kPlayPagePattern);
    ours.Compile();
    Pcre2Scraper jit(kPlayPagePattern, true), interp(kPlayPagePattern, false);
    std::vector<std::string> sink;
    Result r{"scrape_play", 0, 0, 0, 1};
    r.ours = MedianMicros(1001, [&] {
      sink.clear();
      if (ours.Exec(page)) {
        sink.push_back(ours.GroupText(1));
        sink.push_back(ours.GroupText(2));
      }
    });
    r.jit = MedianMicros(1001, [&] {
      sink.clear();
      jit.All(page, 2, sink);
    });
    r.interp = MedianMicros(301, [&] {
      sink.clear();
      interp.All(page, 2, sink);
    });
    results.push_back(r);
  }
  {
    std::vector<std::string> stripped;
    const std::vector<std::string> names = MakeTaggedNames(1000, 5, &stripped);
    TPatternMatcher ours;
    ours.SetExpression(kTagStripPattern);
    ours.Compile();
    for (std::size_t k = 0; k < names.size(); ++k)
      if (ours.ReplaceAll(names[k], "", true) != stripped[k]) {
        std::fprintf(stderr, "strip_names: wrong result\n");
        return 1;
      }
    Pcre2Scraper jit(kTagStripPattern, true), interp(kTagStripPattern, false);
    auto pcre_strip = [](Pcre2Scraper& p, const std::vector<std::string>& all) {
      for (const std::string& name : all)
        benchmark::DoNotOptimize(p.RemoveAll(name));
    };
    Result r{"strip_names", 0, 0, 0, 1000};
    r.ours = MedianMicros(101, [&] {
      for (const std::string& name : names)
        benchmark::DoNotOptimize(ours.ReplaceAll(name, "", true));
    });
    r.jit = MedianMicros(101, [&] { pcre_strip(jit, names); });
    r.interp = MedianMicros(31, [&] { pcre_strip(interp, names); });
    results.push_back(r);
  }
  std::vector<Result> broken;
  for (int rows : {1, 10, 30, 100})
    broken.push_back(Scrape("broken_" + std::to_string(rows), list(rows, true),
                            kCategoryBlockPattern, kCategoryRowPattern, 51, 3));

  double compile_us = MedianMicros(1001, [] {
    TPatternMatcher m;
    m.SetExpression(kCategoryRowPattern);
    m.Compile();
  });

  // Heap allocations of the row searches alone, after a first scrape sized the stack.
  long allocations_per_match = 0;
  {
    TPatternMatcher row;
    row.SetExpression(kCategoryRowPattern);
    const std::string page = list(kRowsPer50k * 20, false);
    int matches = 0;
    for (bool found = row.Exec(page); found; found = row.ExecNext())
      ++matches;
    const auto before = static_cast<long>(djkivo::bench::Allocations());
    matches = 0;
    for (bool found = row.ExecPos(1); found; found = row.ExecNext())
      ++matches;
    allocations_per_match =
        (static_cast<long>(djkivo::bench::Allocations()) - before) / std::max(1, matches);
  }

  std::printf("%-18s %8s %12s %12s %12s %10s %10s\n", "scrape", "rows", "ours us", "pcre2 us",
              "pcre2-jit us", "ours/jit", "us/row");
  for (const Result& r : results)
    std::printf("%-18s %8d %12.1f %12s %12s %10.2f %10.3f\n", r.name.c_str(), r.rows, r.ours,
                Figure(r.interp).c_str(), Figure(r.jit).c_str(), r.jit > 0 ? r.ours / r.jit : 0.0,
                r.ours / std::max(1, r.rows));
  for (const Result& r : broken)
    std::printf("%-18s %8s %12.1f %12s %12s\n", r.name.c_str(), "0", r.ours,
                Figure(r.interp).c_str(), Figure(r.jit).c_str());
  std::printf("compile row pattern: %.2f us; heap allocations per row match: %ld\n", compile_us,
              allocations_per_match);

  for (const Result& r : results)
    PrintMeasure(r.name.c_str(), r.ours, r.jit, "<=1.0", "us");
  PrintMeasure("broken_100", broken.back().ours / 1000.0, -1, "<=2", "ms");
  PrintMeasure("compile_list", compile_us, -1, "<=20", "us");
  return 0;
}
