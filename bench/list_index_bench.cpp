// The address and name lists at 1,000, 10,000 and 100,000 entries: load
// time and memory of a file with every one of the six lists at 100,000
// entries, and nanoseconds per query of the three list queries, through the
// lookup structures and, for comparison, by walking the list. Prints one
// table; run through bench/run.sh.
//
// The queries do not match (the common case, and the costliest: a query that
// matches may stop early), but come close: same top-level domain, same
// leading letters, addresses a few bits away from listed networks.
#include <malloc.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "spamconfig/config_loader.hpp"
#include "spamconfig/list_indexes.hpp"
#include "spamconfig/list_queries.hpp"

namespace {

using bench_clock = std::chrono::steady_clock;

// Wall and CPU seconds since it was made (CPU time is less disturbed by
// other jobs on the machine).
class stopwatch {
 public:
  stopwatch() : wall_(bench_clock::now()), cpu_(cpu_seconds()) {}
  double wall() const { return std::chrono::duration<double>(bench_clock::now() - wall_).count(); }
  double cpu() const { return cpu_seconds() - cpu_; }

 private:
  static double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  }
  bench_clock::time_point wall_;
  double cpu_;
};

std::string address_entry(const char* network, std::size_t i) {
  std::string base = std::string(network) + std::to_string(i / 65536 % 64) + "." +
                     std::to_string(i / 256 % 256) + ".";
  if (i % 10 == 0) return base + "0/24";
  return base + std::to_string(i % 256);
}

// A file with `entries` lines in each of the six lists.
std::string config_text(std::size_t entries) {
  std::string text = "spf header\nddns header\n";
  for (std::size_t i = 0; i < entries; ++i) {
    std::string n = std::to_string(i);
    std::string k = std::to_string(i % 100);
    text += "whitelistip " + address_entry("10.", i) + "\n";
    text += "blacklistip " + address_entry("100.", i) + "\n";
    text += "whitelistptr .host" + n + ".example" + k + ".net\n";
    text += "blacklistptr .dyn" + n + ".isp" + k + ".test\n";
    text += "whitelistfrom user" + n + "@domain" + std::to_string(i % 5000) + ".test\n";
    text += "whitelistto rcpt" + n + "@corp" + std::to_string(i % 500) + ".example\n";
  }
  return text;
}

long rss_kb() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
  }
  return 0;
}

struct query_set {
  std::vector<uint32_t> addresses;
  std::vector<std::string> names;
  std::vector<std::string> senders;
};

query_set make_queries() {
  query_set queries;
  for (std::size_t n = 0; n < 1000; ++n) {
    std::string octets =
        std::to_string(n % 64) + "." + std::to_string(n * 7 % 256) + "." + std::to_string(n % 256);
    queries.addresses.push_back(inet_addr(("11." + octets).c_str()));
    queries.names.push_back("mail" + std::to_string(n) + ".example" + std::to_string(n % 100) +
                            ".net");
    queries.senders.push_back(
        n % 2 == 0 ? "someone" + std::to_string(n) + "@sender" + std::to_string(n % 1000) + ".test"
                   : "user" + std::to_string(n + 1000000) + "@elsewhere.test");
  }
  return queries;
}

// Nanoseconds per call of `ask` over `count` queries, rounds repeated for at
// least a fifth of a second; `hits` gets the matches of one round.
double ns_per_query(std::size_t count, const std::function<bool(std::size_t)>& ask,
                    std::size_t& hits) {
  std::size_t calls = 0;
  stopwatch watch;
  do {
    hits = 0;
    for (std::size_t n = 0; n < count; ++n) hits += ask(n) ? 1 : 0;
    calls += count;
  } while (watch.wall() < 0.2);
  return watch.wall() * 1e9 / static_cast<double>(calls);
}

struct loaded_file {
  spam_config_load load;
  double wall;
  double cpu;
  long rss_delta_kb;
};

loaded_file load_file(std::size_t entries) {
  char directory[] = "/tmp/list_index_bench.XXXXXX";
  if (mkdtemp(directory) == nullptr) std::exit(1);
  std::string path = std::string(directory) + "/orvane.conf";
  std::ofstream(path) << config_text(entries);
  malloc_trim(0);
  long rss_before = rss_kb();
  stopwatch watch;
  spam_config_load load = load_spam_config(path.c_str());
  double wall = watch.wall();
  double cpu = watch.cpu();
  malloc_trim(0);
  unlink(path.c_str());
  rmdir(directory);
  if (!load.file_read) std::exit(1);
  return {load, wall, cpu, rss_kb() - rss_before};
}

void print_queries(std::size_t entries, const spam_config_record& c, const query_set& q) {
  struct query {
    const char* name;
    std::size_t count;
    std::function<bool(std::size_t)> indexed;
    std::function<bool(std::size_t)> walked;
  };
  const query queries[] = {
      {"ip_list_match", q.addresses.size(),
       [&](std::size_t n) {
         return ip_list_match(c.whitelistip, c.whitelistip_index, q.addresses[n]);
       },
       [&](std::size_t n) { return ip_list_match(c.whitelistip, nullptr, q.addresses[n]); }},
      {"name_suffix_match", q.names.size(),
       [&](std::size_t n) {
         return name_suffix_match(c.whitelistptr, c.whitelistptr_index, q.names[n].c_str());
       },
       [&](std::size_t n) {
         return name_suffix_match(c.whitelistptr, nullptr, q.names[n].c_str());
       }},
      {"address_substring_match", q.senders.size(),
       [&](std::size_t n) {
         return address_substring_match(c.whitelistfrom, c.whitelistfrom_index,
                                        q.senders[n].c_str());
       },
       [&](std::size_t n) {
         return address_substring_match(c.whitelistfrom, nullptr, q.senders[n].c_str());
       }},
  };
  for (const auto& query : queries) {
    std::size_t indexed_hits = 0;
    std::size_t walked_hits = 0;
    double indexed = ns_per_query(query.count, query.indexed, indexed_hits);
    double walked = ns_per_query(query.count, query.walked, walked_hits);
    std::printf("%9zu  %-24s %10.1f %12.1f\n", entries, query.name, indexed, walked);
    if (indexed_hits != walked_hits) std::printf("warning: the two ways disagree\n");
  }
}

void print_load(std::size_t entries, loaded_file& file) {
  spam_config_record& record = *file.load.settings;
  std::size_t index_bytes = list_index_bytes(record);
  free_list_indexes(record);
  stopwatch watch;
  build_list_indexes(record);
  double build_wall = watch.wall();
  double build_cpu = watch.cpu();
  std::printf("load of a file with %zu entries in each of the six lists: %.3f s (CPU %.3f s)\n",
              entries, file.wall, file.cpu);
  std::printf("  of which building the lookup structures: %.3f s (CPU %.3f s)\n", build_wall,
              build_cpu);
  std::printf("memory of the loaded record: RSS +%.1f MB, of which lookup structures %.1f MB\n",
              static_cast<double>(file.rss_delta_kb) / 1024.0,
              static_cast<double>(index_bytes) / (1024.0 * 1024.0));
}

}  // namespace

int main() {
  query_set queries = make_queries();
  std::printf("  entries  query                    indexed ns    walked ns\n");
  for (std::size_t entries : {1000u, 10000u, 100000u}) {
    loaded_file file = load_file(entries);
    print_queries(entries, *file.load.settings, queries);
    if (entries == 100000u) print_load(entries, file);
  }
}
