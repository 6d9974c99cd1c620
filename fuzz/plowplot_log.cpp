// plowplot's reading of an hourly text log: the strip chart's collector on any text, read as the
// program reads the log file, and each line through the line parser on its own. Every value the
// chart would draw is a finite number, every position has its state, and the series of the
// satellite count and the PDOP stay in step.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "log_line_facts.h"
#include "strip_chart_data.h"

namespace {

void CheckSeries(const std::vector<ChartPoint>& series) {
  for (const ChartPoint& p : series) Check(std::isfinite(p.x) && std::isfinite(p.y));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  CStripChartCollector collector;
  Check(collector.AddStream(in));
  const StripChartData& chart = collector.Data();
  CheckSeries(chart.height);
  CheckSeries(chart.speed);
  CheckSeries(chart.satellites);
  CheckSeries(chart.pdop);
  Check(chart.states.size() == chart.height.size());
  Check(chart.satellites.size() == chart.pdop.size());
  Check(std::isfinite(chart.latitudeSum) && std::isfinite(chart.longitudeSum));
  Check(chart.hour < 24);

  // Each line alone, without its line end, as the collector hands it over.
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    LogLineFacts facts;
    const bool used = ParseLogLine(std::string_view(text).substr(start, end - start), facts);
    Check(used == (facts.kind != LogLineFacts::Kind::Other));
    if (used) Check(std::isfinite(facts.time) && std::isfinite(facts.height) && std::isfinite(facts.speed));
    start = end + 1;
  }
  return 0;
}
