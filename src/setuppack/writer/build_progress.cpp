#include "setuppack/writer/build_progress.hpp"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::string Format(const char* format, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

std::string FormatProgressLine(const BuildProgress& p) {
  std::string line = std::to_string(p.filesDone) + "/" + std::to_string(p.fileCount) + " files, " +
                     Format("%.1f/%.1f MiB, ", static_cast<double>(p.bytesDone) / kMiB,
                            static_cast<double>(p.byteCount) / kMiB);
  if (p.bytesDone == 0 || p.seconds <= 0) return line + "-- MiB/s, -- left";
  const double rate = static_cast<double>(p.bytesDone) / p.seconds;
  const double left = static_cast<double>(p.byteCount - p.bytesDone) / rate;
  return line + Format("%.1f MiB/s, ", rate / kMiB) + Format("%.0f s left", std::ceil(left));
}
