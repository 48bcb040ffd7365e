#pragma once

// What ostrevane-convert's exit status tells a script that called it.
namespace ostrevane::cli {

enum ExitStatus : int {
  // Every log was converted and every path printed.
  kAllConverted = 0,
  // A log failed (the others were still converted), or standard output could
  // not be written.
  kSomeFailed = 1,
  // An unknown option, or no log named: nothing was converted.
  kUsageError = 2,
};

}  // namespace ostrevane::cli
