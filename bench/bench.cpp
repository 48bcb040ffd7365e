// Times ostrevane-convert (and, when asked, the window program) on one log
// against a plain copy of the same file, in the same run, and reports the
// ratio and the peak memory.
//
//   ostrevane-bench --log big.nmea --convert build/cli/ostrevane-convert
//                   [--window build/app/ostrevane] [--rounds 5]
//                   [--many FOLDER-OF-SMALL-LOGS]

#include <fast_float/fast_float.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

struct Measure {
  double seconds = 0;
  long peakKb = 0;
  int status = -1;
  // What the program itself reported as "<seconds> s" on standard error (the
  // window: its conversion alone, without starting Qt), or -1.
  double reportedSeconds = -1;
};

// The seconds in the last line of `text` that reads "<number> s", or -1.
double ReportedSeconds(const std::string& text) {
  double found = -1;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line(text.data() + start, end - start);
    double value = 0;
    const auto [rest, error] =
        fast_float::from_chars(line.data(), line.data() + line.size(), value);
    if (error == std::errc{} && std::string_view(rest, line.data() + line.size() - rest) == " s")
      found = value;
    start = end + 1;
  }
  return found;
}

// Runs `argv` with `environment` added, waits, and measures it.
Measure Run(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
  // The child must not inherit, and print again, what is still buffered.
  std::fflush(stdout);
  std::FILE* errors = std::tmpfile();
  if (errors == nullptr) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    for (const auto& assignment : environment) putenv(const_cast<char*>(assignment.c_str()));
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    dup2(fileno(errors), STDERR_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  std::string text;
  std::rewind(errors);
  for (int c; (c = std::fgetc(errors)) != EOF;) text += static_cast<char>(c);
  std::fclose(errors);
  return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReportedSeconds(text)};
}

// The best of several rounds, the least disturbed by the rest of the
// machine, with the largest peak memory seen.
struct Best {
  Measure measure{1e30, 0, 0};

  void Add(const Measure& m, const std::string& program) {
    if (m.status != 0) {
      std::fprintf(stderr, "%s failed with status %d\n", program.c_str(), m.status);
      std::exit(1);
    }
    measure.seconds = std::min(measure.seconds, m.seconds);
    if (m.reportedSeconds >= 0 &&
        (measure.reportedSeconds < 0 || m.reportedSeconds < measure.reportedSeconds))
      measure.reportedSeconds = m.reportedSeconds;
    measure.peakKb = std::max(measure.peakKb, m.peakKb);
  }
};

// Timed runs of one program that writes `output`: first with the output
// absent, then once more with it already there. Replacing a file costs the
// file system the freeing of the old one, which plain creation does not.
struct Program {
  std::vector<std::string> argv;
  std::vector<std::string> environment;
  std::string output;
  Best fresh;
  Best replacing;

  void Round() {
    unlink(output.c_str());
    fresh.Add(Run(argv, environment), argv[0]);
    replacing.Add(Run(argv, environment), argv[0]);
  }
};

// The KML path the converter derives from the log path.
std::string KmlPathOf(const std::string& log) {
  const auto dot = log.rfind('.');
  return (dot == std::string::npos ? std::string() : log.substr(0, dot + 1)) + "kml";
}

void Report(const char* name, const Best& best, const Best& baseline, const char* baselineName,
            double target) {
  std::printf("  %-20s %7.3f s  peak %6.1f MB  ratio to %s %.2f (target <= %.1f)\n", name,
              best.measure.seconds, best.measure.peakKb / 1024.0, baselineName,
              best.measure.seconds / baseline.measure.seconds, target);
}

// The .nmea files of `folder`, sorted, as a shell's wildcard gives them.
std::vector<std::string> LogsIn(const std::string& folder) {
  std::vector<std::string> logs;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".nmea") logs.push_back(entry.path().string());
  std::sort(logs.begin(), logs.end());
  return logs;
}

// One call on many small logs against one cp of them all, each replacing
// the outputs of the round before (the first round makes them).
void CompareManyLogs(const std::string& folder, const std::string& convert, int rounds) {
  const std::vector<std::string> logs = LogsIn(folder);
  const std::string copies = folder + "-copies";
  std::filesystem::create_directories(copies);
  std::vector<std::string> cpArgv = {"cp"};
  cpArgv.insert(cpArgv.end(), logs.begin(), logs.end());
  cpArgv.push_back(copies);
  std::vector<std::string> convertArgv = {convert};
  convertArgv.insert(convertArgv.end(), logs.begin(), logs.end());
  Run(cpArgv, {});
  Run(convertArgv, {});
  Best cp;
  Best cli;
  for (int round = 0; round < rounds; ++round) {
    cp.Add(Run(cpArgv, {}), "cp");
    cli.Add(Run(convertArgv, {}), convert);
  }
  std::printf("%zu small logs in one call, outputs replaced (best of %d):\n", logs.size(), rounds);
  std::printf("  %-20s %7.3f s\n", "cp", cp.measure.seconds);
  Report("ostrevane-convert", cli, cp, "cp", 2.0);
  std::filesystem::remove_all(copies);
}

std::string Option(int argc, char** argv, const std::string& name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (argv[i] == name) return argv[i + 1];
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string log = Option(argc, argv, "--log", "");
  const std::string convert = Option(argc, argv, "--convert", "");
  const std::string window = Option(argc, argv, "--window", "");
  const int rounds = std::atoi(Option(argc, argv, "--rounds", "5").c_str());
  const std::string many = Option(argc, argv, "--many", "");
  if (log.empty() || convert.empty() || rounds < 1) {
    std::fprintf(stderr,
                 "usage: ostrevane-bench --log FILE.nmea --convert PROGRAM "
                 "[--window PROGRAM] [--rounds N] [--many FOLDER]\n");
    return 2;
  }
  const std::string copy = log + ".copy";
  const std::string kml = KmlPathOf(log);

  // The programs take turns, round after round, so that a slow spell of the
  // machine weighs on all of them alike.
  Program cp{{"cp", log, copy}, {}, copy, {}, {}};
  Program cli{{convert, log}, {}, kml, {}, {}};
  Program gui{{window}, {"OSTREVANE_AUTORUN=" + log}, kml, {}, {}};
  for (int round = 0; round < rounds; ++round) {
    cp.Round();
    cli.Round();
    if (!window.empty()) gui.Round();
  }
  for (const auto& [title, pick] : {std::pair{"output absent", &Program::fresh},
                                    std::pair{"output replaced", &Program::replacing}}) {
    std::printf("%s (best of %d):\n", title, rounds);
    std::printf("  %-20s %7.3f s\n", "cp", (cp.*pick).measure.seconds);
    Report("ostrevane-convert", cli.*pick, cp.*pick, "cp", 2.5);
    if (!window.empty()) {
      Report("ostrevane (window)", gui.*pick, cli.*pick, "convert", 1.5);
      const double run = (gui.*pick).measure.reportedSeconds;
      std::printf(
          "    of which the conversion %.3f s, ratio to convert %.2f; starting Qt the rest\n", run,
          run / (cli.*pick).measure.seconds);
    }
  }
  unlink(copy.c_str());
  if (!many.empty()) CompareManyLogs(many, convert, rounds);
  return 0;
}
