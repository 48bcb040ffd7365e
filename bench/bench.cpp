// Times ostrevane-convert (and, when asked, the window program) on one log
// against a plain copy of the same file, in the same run, and reports the
// ratio and the peak memory.
//
//   ostrevane-bench --log big.nmea --convert build/cli/ostrevane-convert
//                   [--window build/app/ostrevane] [--rounds 5]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Measure {
  double seconds = 0;
  long peakKb = 0;
  int status = -1;
};

// Runs `argv` with `environment` added, waits, and measures it.
Measure Run(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
  // The child must not inherit, and print again, what is still buffered.
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    for (const auto& assignment : environment) putenv(const_cast<char*>(assignment.c_str()));
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The best of several rounds: the least disturbed by the rest of the machine.
Measure Best(int rounds, const std::vector<std::string>& argv,
             const std::vector<std::string>& environment = {}) {
  Measure best{1e30, 0, 0};
  for (int round = 0; round < rounds; ++round) {
    const Measure m = Run(argv, environment);
    if (m.status != 0) {
      std::fprintf(stderr, "%s failed with status %d\n", argv[0].c_str(), m.status);
      std::exit(1);
    }
    best.seconds = std::min(best.seconds, m.seconds);
    best.peakKb = std::max(best.peakKb, m.peakKb);
  }
  return best;
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
  if (log.empty() || convert.empty() || rounds < 1) {
    std::fprintf(stderr,
                 "usage: ostrevane-bench --log FILE.nmea --convert PROGRAM "
                 "[--window PROGRAM] [--rounds N]\n");
    return 2;
  }
  const std::string copy = log + ".copy";

  const Measure cp = Best(rounds, {"cp", log, copy});
  const Measure cli = Best(rounds, {convert, log});
  std::printf("cp                 %7.3f s\n", cp.seconds);
  std::printf("ostrevane-convert  %7.3f s  peak %6.1f MB  ratio to cp %.2f (target <= 2.5)\n",
              cli.seconds, cli.peakKb / 1024.0, cli.seconds / cp.seconds);
  if (!window.empty()) {
    const Measure gui = Best(rounds, {window}, {"OSTREVANE_AUTORUN=" + log});
    std::printf(
        "ostrevane (window) %7.3f s  peak %6.1f MB  ratio to convert %.2f (target <= 1.5)\n",
        gui.seconds, gui.peakKb / 1024.0, gui.seconds / cli.seconds);
  }
  unlink(copy.c_str());
  return 0;
}
