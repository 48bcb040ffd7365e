// The cost of following a log for hours, at the pace users meet: one
// refresh per simulated second, as `ostrevane-convert --suivre` makes at its
// default interval. A simulated clock stands in for the waiting, so that
// eight hours take minutes, but every file is written to the real file
// system. Each simulated second, the receiver's lines of that second are
// appended to the log (six sentences an epoch, made by make-nmea-log.py,
// `--rate` epochs a second), and the follower refreshes.
//
// Reports what the follower wrote (in all, against the final KML file's
// size, and per refresh), what a viewer that reloads each of the
// companion's links at its interval reads per second, how long a refresh
// takes from the append to the files in place, the CPU per hour of logging,
// what an idle log costs, and the peak memory.
//
//   ostrevane-follow-bench --log SOURCE.nmea --folder DIR [--rate 10]
//                          [--hours 8] [--interval 1] [--plain-copy]
//
// --plain-copy copies the KML file's unchanged part through memory rather
// than with copy_file_range, for comparison.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "run/log_follower.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSentencesPerEpoch = 6;

class QuietWindow final : public ostrevane::run::Window {
 public:
  void ReportError(std::string_view message) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  }
};

// Time as the follower sees it: moved on by the benchmark, a simulated
// second at a time.
class SimulatedClock final : public ostrevane::os::Clock {
 public:
  ostrevane::text::DateTime TimeOfDay() override {
    return ostrevane::text::DateTime::FromSeconds(12 * 3600);
  }
  std::int64_t MonotonicMs() override { return nowMs; }
  std::int64_t nowMs = 0;
};

// The computer's file system, copying through memory.
class PlainCopyFileSystem final : public ostrevane::os::FileSystem {
 public:
  explicit PlainCopyFileSystem(FileSystem& real) : real_(real) {}
  bool CallableFromOtherThreads() const override { return true; }
  int OpenForReading(const std::string& p, Handle& h) override {
    return real_.OpenForReading(p, h);
  }
  int PrepareFifo(Handle h, FifoReading r) override { return real_.PrepareFifo(h, r); }
  int PathStatus(const std::string& p, Status& s) override { return real_.PathStatus(p, s); }
  int HandleStatus(Handle h, Status& s) override { return real_.HandleStatus(h, s); }
  int ReadAt(Handle h, std::uint64_t o, char* d, std::size_t n, std::size_t& g) override {
    return real_.ReadAt(h, o, d, n, g);
  }
  int CreateExclusive(const std::string& p, Handle& h) override {
    return real_.CreateExclusive(p, h);
  }
  int Read(Handle h, char* d, std::size_t n, std::size_t& g) override {
    return real_.Read(h, d, n, g);
  }
  int Write(Handle h, const char* d, std::size_t n) override { return real_.Write(h, d, n); }
  int Sync(Handle h) override { return real_.Sync(h); }
  int Close(Handle h) override { return real_.Close(h); }
  int Replace(const std::string& f, const std::string& t) override { return real_.Replace(f, t); }
  int Remove(const std::string& p) override { return real_.Remove(p); }
  int CreateFolder(const std::string& p) override { return real_.CreateFolder(p); }
  int CheckReplaceable(const std::string& p) override { return real_.CheckReplaceable(p); }
  std::string ReplacementTarget(const std::string& p) override {
    return real_.ReplacementTarget(p);
  }
  bool Exists(const std::string& p) override { return real_.Exists(p); }
  int CopyPermissions(const std::string& m, Handle h) override {
    return real_.CopyPermissions(m, h);
  }
  int CreateUnnamed(const std::string& f, Handle& h) override { return real_.CreateUnnamed(f, h); }
  int Link(Handle h, const std::string& p) override { return real_.Link(h, p); }

 private:
  FileSystem& real_;
};

double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The values between `open` and `close` tags, in order.
std::vector<std::string> Values(const std::string& text, const std::string& tag) {
  std::vector<std::string> values;
  const std::string open = "<" + tag + ">";
  const std::string close = "</" + tag + ">";
  for (auto at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
    at += open.size();
    values.push_back(text.substr(at, text.find(close, at) - at));
  }
  return values;
}

// A viewer that reloads each of the companion's links at its own interval
// and reads, at each reload, the linked file and every file it links.
class ModelViewer {
 public:
  ModelViewer(const std::string& folder, const std::string& companion) : folder_(folder) {
    const std::string text = ReadFile(companion);
    const auto hrefs = Values(text, "href");
    const auto intervals = Values(text, "refreshInterval");
    for (std::size_t i = 0; i < hrefs.size() && i < intervals.size(); ++i)
      links_.push_back({hrefs[i], std::max<long>(1, std::lround(std::atof(intervals[i].c_str())))});
  }

  // Bytes read in the simulated second `second`.
  std::uint64_t ReadAt(long second) const {
    std::uint64_t bytes = 0;
    for (const Link& link : links_) {
      if (second % link.seconds != 0) continue;
      const std::string path = folder_ + "/" + link.href;
      const std::string text = ReadFile(path);
      bytes += text.size();
      const std::string here = path.substr(0, path.find_last_of('/') + 1);
      for (const std::string& href : Values(text, "href")) {
        std::error_code error;
        const auto size = std::filesystem::file_size(here + href, error);
        if (!error) bytes += size;
      }
    }
    return bytes;
  }

 private:
  struct Link {
    std::string href;
    long seconds;
  };
  std::string folder_;
  std::vector<Link> links_;
};

template <typename T>
T Median(std::vector<T> values) {
  if (values.empty()) return T{};
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

template <typename T>
T Largest(const std::vector<T>& values) {
  return values.empty() ? T{} : *std::max_element(values.begin(), values.end());
}

}  // namespace

int main(int argc, char** argv) {
  std::string source;
  std::string folder;
  int rate = 10;
  double hours = 8;
  double interval = 1;
  bool plainCopy = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (argument == "--log")
      source = value();
    else if (argument == "--folder")
      folder = value();
    else if (argument == "--rate")
      rate = std::atoi(value().c_str());
    else if (argument == "--hours")
      hours = std::atof(value().c_str());
    else if (argument == "--interval")
      interval = std::atof(value().c_str());
    else if (argument == "--plain-copy")
      plainCopy = true;
  }
  if (source.empty() || folder.empty() || rate <= 0 || hours <= 0 || interval <= 0) {
    std::fprintf(stderr,
                 "usage: ostrevane-follow-bench --log LOG --folder DIR [--rate HZ] [--hours H] "
                 "[--interval S] [--plain-copy]\n");
    return 2;
  }
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string log = folder + "/live.nmea";
  std::ofstream(log, std::ios::binary);

  PlainCopyFileSystem plain(ostrevane::os::SystemFileSystem());
  QuietWindow window;
  SimulatedClock clock;
  ostrevane::run::LogFollower::Services services;
  services.fileSystem = plainCopy ? &plain : &ostrevane::os::SystemFileSystem();
  services.clock = &clock;
  services.intervalSeconds = interval;
  ostrevane::run::LogFollower follower(window, log, services);
  follower.Refresh();
  const ModelViewer viewer(folder, follower.WriteCompanion());

  std::ifstream in(source, std::ios::binary);
  std::ofstream out(log, std::ios::binary | std::ios::app);
  const long seconds = std::lround(hours * 3600);
  const auto refreshEvery = std::max<long>(1, std::lround(interval));
  std::vector<double> refreshTimes;
  std::vector<std::uint64_t> refreshBytes;  // the pieces and scratch file
  std::vector<std::uint64_t> viewerBytes;
  std::uint64_t kmlRewriteBytes = 0;
  // The follower's CPU, its own threads included: the process's, less what
  // the benchmark spends appending and playing the viewer.
  double benchmarkCpu = 0;
  const double cpuAtStart = ProcessCpuSeconds();
  std::string line;
  std::string appended;
  const auto start = Clock::now();
  for (long second = 1; second <= seconds; ++second) {
    double ownCpu = ThreadCpuSeconds();
    for (int i = 0; i < rate * kSentencesPerEpoch && std::getline(in, line); ++i) {
      appended += line;
      appended += '\n';
    }
    out << appended << std::flush;
    appended.clear();
    benchmarkCpu += ThreadCpuSeconds() - ownCpu;
    clock.nowMs = second * 1000;
    if (second % refreshEvery == 0) {
      const std::uint64_t kmlBefore = follower.KmlBytes();
      const std::uint64_t otherBefore = follower.OtherBytes();
      const auto before = Clock::now();
      follower.Refresh();
      refreshTimes.push_back(Seconds(Clock::now() - before));
      refreshBytes.push_back(follower.OtherBytes() - otherBefore);
      kmlRewriteBytes += follower.KmlBytes() - kmlBefore;
    }
    ownCpu = ThreadCpuSeconds();
    viewerBytes.push_back(viewer.ReadAt(second));
    benchmarkCpu += ThreadCpuSeconds() - ownCpu;
  }
  follower.WaitForKml();
  const double cpu = ProcessCpuSeconds() - cpuAtStart - benchmarkCpu;
  const double wall = Seconds(Clock::now() - start);

  // Idle: refreshes that find nothing new write nothing; the catch-up of an
  // idle log writes the KML file once.
  const std::uint64_t beforeIdle = follower.KmlBytes() + follower.OtherBytes();
  for (int i = 0; i < 100; ++i) {
    clock.nowMs += 1000;
    follower.Refresh();
  }
  const std::uint64_t idleBytes = follower.KmlBytes() + follower.OtherBytes() - beforeIdle;
  follower.Finish();
  const std::uint64_t total = follower.KmlBytes() + follower.OtherBytes();
  const auto finalSize = std::filesystem::file_size(folder + "/live.kml");

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "%.1f h of a %d Hz receiver (%d sentences an epoch), a refresh every %.1f s, copy %s\n",
      hours, rate, kSentencesPerEpoch, interval, plainCopy ? "through memory" : "copy_file_range");
  std::printf("  simulated in %.0f s; final KML %.2f MB\n", wall,
              static_cast<double>(finalSize) / 1e6);
  std::printf("  written in all: %.1f MB, %.1f times the final KML (KML rewrites %.1f MB)\n",
              static_cast<double>(total) / 1e6,
              static_cast<double>(total) / static_cast<double>(finalSize),
              static_cast<double>(follower.KmlBytes()) / 1e6);
  std::printf("  written per refresh, KML rewrites aside: median %.1f KB, largest %.1f KB\n",
              static_cast<double>(Median(refreshBytes)) / 1e3,
              static_cast<double>(Largest(refreshBytes)) / 1e3);
  std::printf("  KML rewrites: %llu, %.1f MB in all\n",
              static_cast<unsigned long long>(follower.KmlWrites()),
              static_cast<double>(kmlRewriteBytes) / 1e6);
  std::printf(
      "  a viewer reloading each link at its interval reads per second: median %.1f KB, "
      "largest %.1f KB\n",
      static_cast<double>(Median(viewerBytes)) / 1e3,
      static_cast<double>(Largest(viewerBytes)) / 1e3);
  std::vector<double> sorted = refreshTimes;
  std::sort(sorted.begin(), sorted.end());
  std::printf(
      "  refresh, from the append to the files in place: median %.1f ms, 99th percentile %.1f ms, "
      "largest %.1f ms (the refresh of second %ld)\n",
      Median(refreshTimes) * 1e3, sorted.empty() ? 0 : sorted[sorted.size() * 99 / 100] * 1e3,
      Largest(refreshTimes) * 1e3,
      static_cast<long>(std::max_element(refreshTimes.begin(), refreshTimes.end()) -
                        refreshTimes.begin()) *
              refreshEvery +
          1);
  std::printf("  CPU of the follower, its threads included: %.2f s per hour of logging\n",
              cpu / hours);
  std::printf("  idle: %llu bytes written over 100 refreshes that found nothing new\n",
              static_cast<unsigned long long>(idleBytes));
  std::printf("  peak memory (whole process): %.1f MB\n",
              static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
