// The cost of following a log: a writer appends a 10 Hz receiver's log (six
// sentences per epoch, made by make-nmea-log.py) one simulated second at a
// time, at an accelerated pace, while a follower refreshes the KML file as
// ostrevane-convert --suivre does (change notifications, at most one refresh
// per interval). Reports the refresh latency (from the append to the KML
// file replaced), the bytes written per refresh and in total, the
// follower's CPU seconds per hour of logging, busy and then idle, and the
// peak memory.
//
//   ostrevane-follow-bench --log ten-hz.nmea --folder DIR [--pace 1800]
//                          [--interval 1] [--idle 10] [--plain-copy]
//
// --plain-copy copies the unchanged part of each KML file through memory
// rather than with copy_file_range, for comparison.

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/follow_events.h"
#include "run/log_follower.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLinesPerSimulatedSecond = 10 * 6;

class QuietWindow final : public ostrevane::run::Window {
 public:
  void ReportError(std::string_view message) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  }
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

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

struct Appends {
  std::mutex mutex;
  std::vector<Clock::time_point> times;  // one per simulated second appended
  bool done = false;
};

// Appends the log one simulated second at a time, `pace` times faster than
// the receiver.
void Write(const std::string& source, const std::string& log, double pace, Appends& appends) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(log, std::ios::binary | std::ios::app);
  const auto step =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / pace));
  auto next = Clock::now();
  std::string line;
  std::string second;
  int lines = 0;
  while (std::getline(in, line)) {
    second += line;
    second += '\n';
    if (++lines < kLinesPerSimulatedSecond) continue;
    std::this_thread::sleep_until(next);
    next += step;
    out << second << std::flush;
    {
      std::lock_guard lock(appends.mutex);
      appends.times.push_back(Clock::now());
    }
    second.clear();
    lines = 0;
  }
  std::lock_guard lock(appends.mutex);
  appends.done = true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string source;
  std::string folder;
  double pace = 1800;
  double interval = 1;
  double idleSeconds = 10;
  bool plainCopy = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (argument == "--log")
      source = value();
    else if (argument == "--folder")
      folder = value();
    else if (argument == "--pace")
      pace = std::atof(value().c_str());
    else if (argument == "--interval")
      interval = std::atof(value().c_str());
    else if (argument == "--idle")
      idleSeconds = std::atof(value().c_str());
    else if (argument == "--plain-copy")
      plainCopy = true;
  }
  if (source.empty() || folder.empty() || pace <= 0 || interval <= 0) {
    std::fprintf(stderr,
                 "usage: ostrevane-follow-bench --log LOG --folder DIR [--pace N] "
                 "[--interval S] [--idle S] [--plain-copy]\n");
    return 2;
  }
  std::filesystem::create_directories(folder);
  const std::string log = folder + "/live.nmea";
  std::filesystem::remove(log);
  std::filesystem::remove(folder + "/live.kml");
  std::ofstream(log, std::ios::binary);

  PlainCopyFileSystem plain(ostrevane::os::SystemFileSystem());
  QuietWindow window;
  ostrevane::run::LogFollower follower(
      window, log,
      {plainCopy ? &plain : &ostrevane::os::SystemFileSystem(), &ostrevane::os::SystemTimeZone()});
  const auto intervalMs = static_cast<std::int64_t>(interval * 1000);
  ostrevane::os::FollowEvents events(intervalMs);
  events.Watch(log);
  follower.Refresh();

  Appends appends;
  const double cpuAtStart = ThreadCpuSeconds();
  const auto start = Clock::now();
  std::thread writer(Write, source, log, pace, std::ref(appends));
  std::vector<double> latencies;
  std::vector<double> refreshBytes;
  std::size_t covered = 0;
  auto lastRefresh = Clock::now() - std::chrono::hours(1);
  bool changed = false;
  for (;;) {
    const auto sinceRefresh = Seconds(Clock::now() - lastRefresh);
    const std::int64_t wait =
        changed
            ? std::max<std::int64_t>(0, static_cast<std::int64_t>((interval - sinceRefresh) * 1000))
            : 200;
    if (events.Wait(wait) == ostrevane::os::FollowEvents::Event::Changed) changed = true;
    bool done;
    std::size_t appended;
    {
      std::lock_guard lock(appends.mutex);
      done = appends.done;
      appended = appends.times.size();
    }
    if (!changed || Seconds(Clock::now() - lastRefresh) < interval) {
      if (done && covered == appended) break;
      continue;
    }
    const std::uint64_t bytesBefore = follower.KmlBytes();
    const std::uint64_t writesBefore = follower.KmlWrites();
    follower.Refresh();
    lastRefresh = Clock::now();
    changed = false;
    if (follower.KmlWrites() > writesBefore)
      refreshBytes.push_back(static_cast<double>(follower.KmlBytes() - bytesBefore));
    std::lock_guard lock(appends.mutex);
    for (; covered < appended; ++covered)
      latencies.push_back(Seconds(lastRefresh - appends.times[covered]));
  }
  writer.join();
  const double busyCpu = ThreadCpuSeconds() - cpuAtStart;
  const double busyWall = Seconds(Clock::now() - start);
  const double simulatedHours = static_cast<double>(appends.times.size()) / 3600.0;

  const double idleStart = ThreadCpuSeconds();
  const auto idleUntil = Clock::now() + std::chrono::duration<double>(idleSeconds);
  const std::uint64_t writesBeforeIdle = follower.KmlWrites();
  while (Clock::now() < idleUntil) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(idleUntil - Clock::now());
    if (events.Wait(std::max<std::int64_t>(1, left.count())) ==
        ostrevane::os::FollowEvents::Event::Changed)
      follower.Refresh();
  }
  const double idleCpu = ThreadCpuSeconds() - idleStart;
  follower.Finish();

  std::sort(latencies.begin(), latencies.end());
  double total = 0;
  for (double bytes : refreshBytes) total += bytes;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("simulated %.2f h of a 10 Hz log in %.1f s (pace %.0fx), interval %.1f s, copy %s\n",
              simulatedHours, busyWall, pace, interval, plainCopy ? "plain" : "copy_file_range");
  std::printf("refreshes: %zu; latency median %.3f s, max %.3f s\n", refreshBytes.size(),
              latencies.empty() ? 0 : latencies[latencies.size() / 2],
              latencies.empty() ? 0 : latencies.back());
  std::printf("bytes written per refresh: mean %.1f MB, last %.1f MB; total %.2f GB\n",
              refreshBytes.empty() ? 0 : total / static_cast<double>(refreshBytes.size()) / 1e6,
              refreshBytes.empty() ? 0 : refreshBytes.back() / 1e6, total / 1e9);
  std::printf(
      "follower CPU: busy %.2f s in all (%.3f s per refresh), idle %.4f s per hour "
      "(%llu writes while idle)\n",
      busyCpu, refreshBytes.empty() ? 0 : busyCpu / static_cast<double>(refreshBytes.size()),
      idleCpu / idleSeconds * 3600,
      static_cast<unsigned long long>(follower.KmlWrites() - writesBeforeIdle));
  std::printf("peak memory (whole process, writer included): %.1f MB\n",
              static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
