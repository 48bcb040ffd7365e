// ostrevane-convert: converts NMEA logs into KML files from the command line,
// byte for byte as the window does.

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "cli/follow.h"
#include "messages/messages.h"
#include "product/version.h"
#include "run/conversion_run.h"

namespace {

using ostrevane::run::ConversionRun;

constexpr std::string_view kProgram = "ostrevane-convert";

void Print(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// Each message goes out as it is said, whatever buffers standard error (the
// C library on Windows when it is redirected to a file): a follower runs for
// hours, and its notices belong in the log file when they happen.
void PrintError(std::string_view message) {
  Print(stderr, ostrevane::messages::FromProgram(kProgram, message));
  Print(stderr, "\n");
  std::fflush(stderr);
}

void PrintUsage(std::FILE* stream) { Print(stream, ostrevane::messages::Usage()); }

// The run's window, seen from a terminal: there is nothing to show, and a
// failure, a warning or a remark goes to standard error, one line each.
class ConsoleWindow final : public ostrevane::run::Window {
 public:
  void ReportError(std::string_view message) override { PrintError(message); }
  void ReportNotice(std::string_view message) override { PrintError(message); }
  void ReportRemark(std::string_view message) override { PrintError(message); }
};

struct Arguments {
  std::vector<std::string> files;
  bool help = false;
  bool version = false;
  bool follow = false;
  // The value of --intervalle, when given (--intervalle=2 or --intervalle 2).
  std::optional<std::string> interval;
  std::string unknownOption;
};

constexpr std::string_view kIntervalOption = "--intervalle";

Arguments Parse(const std::vector<std::string>& words) {
  Arguments arguments;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& argument = words[i];
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && argument == "--help") {
      arguments.help = true;
    } else if (!optionsEnded && argument == "--version") {
      arguments.version = true;
    } else if (!optionsEnded && argument == "--suivre") {
      arguments.follow = true;
    } else if (!optionsEnded && argument == kIntervalOption) {
      // Its value is the next word, as most programs' options take theirs.
      arguments.interval = i + 1 < words.size() ? words[++i] : std::string();
    } else if (!optionsEnded && argument.rfind(std::string(kIntervalOption) + "=", 0) == 0) {
      arguments.interval = argument.substr(kIntervalOption.size() + 1);
    } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
      if (arguments.unknownOption.empty()) arguments.unknownOption = argument;
    } else {
      arguments.files.emplace_back(argument);
    }
  }
  return arguments;
}

// How many converted files wait at most to be put in place together: their
// syncs are shared, and each holds an open file until then.
constexpr std::size_t kMostWaiting = 64;

// Converts one log; false when it failed. Its KML file may still wait to be
// put in place: see PutInPlace.
bool ConvertOne(ConversionRun& run, const std::string& path) {
  return run.ConvertNamedLog(path) == ConversionRun::Outcome::Converted;
}

// Puts the waiting KML files in place and prints the path of each, or why it
// failed; false when one failed.
bool PutInPlace(ConversionRun& run) {
  bool allPlaced = true;
  for (const auto& placed : run.Files.PutWaitingInPlace()) {
    if (!placed.failure.empty()) {
      PrintError(placed.failure);
      allPlaced = false;
      continue;
    }
    Print(stdout, placed.path);
    Print(stdout, "\n");
  }
  return allPlaced;
}

// Flushes the paths printed so far; false, after saying why, when standard
// output can't take them (a full disk, a closed pipe...).
bool FlushStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  const int error = errno != 0 ? errno : EIO;
  PrintError(ostrevane::messages::StandardOutputFailure(error));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Take the user's locale as the window does, so that both are known to
  // write the same bytes whatever it is.
  std::setlocale(LC_ALL, "");
  const ostrevane::cli::Utf8Console console;

  const Arguments arguments = Parse(ostrevane::cli::Utf8Arguments(argc, argv));
  if (!arguments.unknownOption.empty()) {
    PrintError(ostrevane::messages::UnknownOption(arguments.unknownOption));
    PrintUsage(stderr);
    return ostrevane::cli::kUsageError;
  }
  if (arguments.help) {
    PrintUsage(stdout);
    return ostrevane::cli::kAllConverted;
  }
  if (arguments.version) {
    Print(stdout, std::string(kProgram) + " " + std::string(ostrevane::product::kVersion) + "\n");
    return ostrevane::cli::kAllConverted;
  }
  if (arguments.files.empty()) {
    PrintError(ostrevane::messages::kNothingToConvert);
    PrintUsage(stderr);
    return ostrevane::cli::kUsageError;
  }

  double interval = ostrevane::cli::kDefaultIntervalSeconds;
  if (arguments.interval && !arguments.follow) {
    PrintError(ostrevane::messages::kIntervalWithoutFollowing);
    return ostrevane::cli::kUsageError;
  }
  if (arguments.interval && !ostrevane::cli::ReadInterval(*arguments.interval, interval)) {
    PrintError(ostrevane::messages::BadInterval(*arguments.interval));
    return ostrevane::cli::kUsageError;
  }

  ConsoleWindow window;
  if (arguments.follow) return ostrevane::cli::FollowLogs(arguments.files, interval, window);
  ConversionRun::Services services;
  services.fifoReading = ostrevane::os::FileSystem::FifoReading::FromWriter;
  ConversionRun run(window, services);
  bool allConverted = true;
  // Many small logs would otherwise wait for the disk once each.
  run.Files.WaitForSharedSync();
  for (const std::string& path : arguments.files) {
    allConverted &= ConvertOne(run, path);
    if (run.Files.WaitingCount() >= kMostWaiting) allConverted &= PutInPlace(run);
  }
  allConverted &= PutInPlace(run);
  const bool printed = FlushStandardOutput();
  return allConverted && printed ? ostrevane::cli::kAllConverted : ostrevane::cli::kSomeFailed;
}
