#include "strip_chart_page.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kResolution = 300;  // device units per inch; all layout below is in points

struct StateStyle {
  FixState state;
  const char* name;
  QColor colour;
};

const std::array<StateStyle, 5>& StateStyles() {
  static const std::array<StateStyle, 5> styles = {{
      {FixState::Unknown, "Unknown", QColor(0xbd, 0xbd, 0xbd)},
      {FixState::Autonomous, "Autonomous", QColor(0xd7, 0x30, 0x27)},
      {FixState::Dgps, "DGPS", QColor(0xfd, 0xae, 0x61)},
      {FixState::RtkFloat, "RTK float", QColor(0x74, 0xad, 0xd1)},
      {FixState::RtkFixed, "RTK fixed", QColor(0x1a, 0x98, 0x50)},
  }};
  return styles;
}

QColor StateColour(FixState state) {
  for (const auto& s : StateStyles())
    if (s.state == state) return s.colour;
  return Qt::gray;
}

// 1, 2 or 5 times a power of ten, at least `raw`.
double NiceStep(double raw) {
  if (!(raw > 0)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw * 0.999) return m * power;
  return 10 * power;
}

QString Clock(double x) {
  long s = std::lround(std::fmod(x, 86400.0));
  if (s < 0) s += 86400;
  return QString::asprintf("%02ld:%02ld", (s / 3600) % 24, (s / 60) % 60);
}

// Typical spacing of a series; a step much larger than it is a gap and is not joined by a line.
double GapLimit(const std::vector<ChartPoint>& points) {
  std::vector<double> steps;
  steps.reserve(points.size());
  for (std::size_t i = 1; i < points.size(); ++i) steps.push_back(points[i].x - points[i - 1].x);
  if (steps.empty()) return 5;
  std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
  return std::max(5.0, 4 * steps[steps.size() / 2]);
}

// Calls `draw` for each multiple of `step` from `min` to `max`. Counted rather than summed, and
// capped, so values far larger than their spread (where v + step == v) cannot loop for ever.
template <class Draw>
void ForEachTick(double min, double max, double step, Draw draw) {
  const double first = std::ceil(min / step - 1e-9) * step;
  for (int k = 0; k <= 60; ++k) {
    const double v = first + k * step;
    if (!(v <= max + 1e-9 * step)) break;
    draw(std::abs(v) < 1e-9 * step ? 0.0 : v);
  }
}

QString TickText(double value, double step) {
  const int decimals = step >= 1 ? 0 : std::min(3, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
  return QString::number(value, 'f', decimals);
}

}  // namespace

struct CStripChartPage::Frame {
  QRectF box;   // the plotting area, device units
  double unit;  // device units per point
  Axis x;
  double X(double v) const { return box.left() + (v - x.min) / (x.max - x.min) * box.width(); }
  double Pt(double points) const { return points * unit; }
  QFont Font(double points, bool bold = false) const {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
  }
};

CStripChartPage::CStripChartPage(const StripChartData& chartData, StripChartOptions chartOptions)
    : data(chartData), options(std::move(chartOptions)) {
  double lo = INFINITY, hi = -INFINITY;
  for (const auto* series : {&data.height, &data.speed, &data.satellites, &data.pdop})
    for (const auto& point : *series) {
      lo = std::min(lo, point.x);
      hi = std::max(hi, point.x);
    }
  if (lo > hi) {
    // Nothing timed: the hour named in the header, else the first hour of the day.
    lo = data.hour >= 0 ? data.hour * 3600.0 : 0;
    hi = lo + 3600;
  }
  time.min = std::floor(lo / 300) * 300;
  // An hour's file runs a few seconds past the hour (GPS time leads UTC); end at the hour then.
  time.max = std::max(std::ceil((hi - 60) / 300) * 300, hi);
  if (time.max - time.min < 300) time.max = time.min + 300;
  const double span = time.max - time.min;
  time.step = 86400;
  for (const double s : {60.0, 120.0, 300.0, 600.0, 900.0, 1800.0, 3600.0, 7200.0, 10800.0, 21600.0, 43200.0})
    if (span / s <= 13) {
      time.step = s;
      break;
    }
}

QString CStripChartPage::Title() const {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  QString station = QString::fromStdString(data.station);
  int month = data.month, day = data.day, hour = data.hour;
  QString year = QString::number(data.year);
  if (data.hour < 0) {
    // No header: the file name is the prefix followed by the hour code Y MM DD HH.
    const QString name = options.logName.section('.', 0, 0);
    const QString code = name.right(7);
    bool ok = false;
    code.toInt(&ok);
    if (ok && code.size() == 7) {
      if (station.isEmpty()) station = name.left(name.size() - 7);
      year = QStringLiteral("year ending ") + code.left(1);
      month = code.mid(1, 2).toInt();
      day = code.mid(3, 2).toInt();
      hour = code.mid(5, 2).toInt();
    } else {
      hour = -1;
    }
  }
  if (station.isEmpty()) station = QStringLiteral("(unnamed)");
  QString title = QStringLiteral("Station %1").arg(station);
  if (hour >= 0 && month >= 1 && month <= 12)
    title += QStringLiteral(" \u2014 %1 %2 %3, %4:00\u2013%5:00 UTC")
                 .arg(day)
                 .arg(kMonths[month - 1])
                 .arg(year)
                 .arg(hour, 2, 10, QLatin1Char('0'))
                 .arg((hour + 1) % 24, 2, 10, QLatin1Char('0'));
  return title;
}

QString CStripChartPage::Subtitle() const {
  QString text = QStringLiteral("Log %1 \u00b7 %2 positions").arg(options.logName).arg(data.height.size());
  if (!data.height.empty()) {
    const double lat = data.latitudeSum / data.height.size(), lon = data.longitudeSum / data.height.size();
    text += QStringLiteral(" (mean %1\u00b0 %2, %3\u00b0 %4)")
                .arg(std::abs(lat), 0, 'f', 6)
                .arg(lat < 0 ? 'S' : 'N')
                .arg(std::abs(lon), 0, 'f', 6)
                .arg(lon < 0 ? 'W' : 'E');
  }
  text += QStringLiteral(" \u00b7 %1 velocities \u00b7 %2 satellite selections")
              .arg(data.speed.size())
              .arg(data.satellites.size());
  text += options.heightScale ? QStringLiteral(" \u00b7 height scale %1 m").arg(*options.heightScale)
                              : QStringLiteral(" \u00b7 height scale automatic");
  return text;
}

CStripChartPage::Axis CStripChartPage::HeightAxis() const {
  Axis axis;
  if (data.height.empty()) {
    axis.min = 0, axis.max = 10, axis.step = 2;
    return axis;
  }
  if (options.heightScale) {
    // A fixed span centred on the median, so one outlier does not move the whole trace.
    std::vector<double> heights;
    heights.reserve(data.height.size());
    for (const auto& point : data.height) heights.push_back(point.y);
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    const double centre = heights[heights.size() / 2];
    axis.min = centre - *options.heightScale / 2;
    axis.max = centre + *options.heightScale / 2;
    axis.step = NiceStep(*options.heightScale / 5);
    return axis;
  }
  auto [lo, hi] = std::minmax_element(data.height.begin(), data.height.end(),
                                      [](const ChartPoint& a, const ChartPoint& b) { return a.y < b.y; });
  const double pad = std::max(0.5, (hi->y - lo->y) * 0.05);
  axis.step = NiceStep((hi->y - lo->y + 2 * pad) / 5);
  axis.min = std::floor((lo->y - pad) / axis.step) * axis.step;
  axis.max = std::ceil((hi->y + pad) / axis.step) * axis.step;
  return axis;
}

bool CStripChartPage::Write(QIODevice* device, QString& error) const {
  QPdfWriter writer(device);
  writer.setResolution(kResolution);
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0)));
  writer.setTitle(Title());
  writer.setCreator(QStringLiteral("plowplot"));
  QPainter painter;
  if (!painter.begin(&writer)) {
    error = QStringLiteral("cannot start the PDF page");
    return false;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  Paint(painter, kResolution / 72.0);
  if (!painter.end()) {
    error = QStringLiteral("cannot finish the PDF page");
    return false;
  }
  return true;
}

void CStripChartPage::Paint(QPainter& p, double unit) const {
  const double pageWidth = 841.89, pageHeight = 595.28;
  Frame page{QRectF(), unit, time};
  const double left = 72, right = pageWidth - 28, top = 28;

  p.setPen(Qt::black);
  p.setFont(page.Font(16, true));
  p.drawText(QRectF(page.Pt(left), page.Pt(top), page.Pt(right - left), page.Pt(22)),
             Qt::AlignLeft | Qt::AlignVCenter, Title());
  p.setFont(page.Font(8.5));
  p.setPen(QColor(0x40, 0x40, 0x40));
  p.drawText(QRectF(page.Pt(left), page.Pt(top + 22), page.Pt(right - left), page.Pt(14)),
             Qt::AlignLeft | Qt::AlignVCenter, Subtitle());
  double y = top + 42;
  if (data.height.empty()) {
    p.setFont(page.Font(12, true));
    p.setPen(QColor(0xb0, 0x00, 0x00));
    p.drawText(QRectF(page.Pt(left), page.Pt(y), page.Pt(right - left), page.Pt(16)),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("No position lines in this log"));
  }
  y += 18;

  // Panel heights share what is left above the time labels and the legend.
  const double bottom = pageHeight - 28 - 40;
  const double gap = 16, band = 16;
  const double weights[] = {3, 2, 1.5, 1.5};
  const double each = (bottom - y - 4 * gap - band) / 8.0;
  auto next = [&](double height) {
    Frame f{QRectF(page.Pt(left), page.Pt(y + gap), page.Pt(right - left), page.Pt(height)), unit, time};
    y += gap + height;
    return f;
  };

  double speedMax = 0.5, pdopMax = 0;
  for (const auto& point : data.speed) speedMax = std::max(speedMax, point.y);
  for (const auto& point : data.pdop) pdopMax = std::max(pdopMax, point.y);
  double satMax = 12;
  for (const auto& point : data.satellites) satMax = std::max(satMax, point.y);
  Axis speedAxis{0, 0, NiceStep(speedMax * 1.05 / 4)};
  speedAxis.max = std::ceil(speedMax * 1.05 / speedAxis.step) * speedAxis.step;
  // PDOP spikes into the tens when satellites drop out; the axis stops at 20 so normal values stay legible.
  Axis pdopAxis{0, 0, 0};
  pdopAxis.max = std::clamp(std::ceil(pdopMax * 1.1), 4.0, 20.0);
  pdopAxis.step = NiceStep(pdopAxis.max / 4);
  pdopAxis.max = std::ceil(pdopAxis.max / pdopAxis.step) * pdopAxis.step;
  const Axis satAxis{0, std::ceil(satMax / 4) * 4, 4};

  PaintSeriesPanel(p, next(each * weights[0]), QStringLiteral("Height (m)"), data.height, HeightAxis(),
                   QColor(0x1f, 0x4e, 0x9c), false);
  PaintSeriesPanel(p, next(each * weights[1]), QStringLiteral("Horizontal speed (m/s)"), data.speed,
                   speedAxis, QColor(0x7b, 0x32, 0x94), false);
  PaintSeriesPanel(p, next(each * weights[2]), QStringLiteral("Satellites used"), data.satellites, satAxis,
                   QColor(0x25, 0x25, 0x25), true);
  PaintSeriesPanel(p, next(each * weights[3]), QStringLiteral("PDOP"), data.pdop, pdopAxis,
                   QColor(0xb3, 0x58, 0x06), false);
  const Frame bandFrame = next(band);
  PaintStateBand(p, bandFrame);
  PaintTimeAxis(p, bandFrame);
  PaintLegend(p, bandFrame);
}

void CStripChartPage::PaintSeriesPanel(QPainter& p, const Frame& f, const QString& name,
                                       const std::vector<ChartPoint>& points, const Axis& y,
                                       const QColor& colour, bool steps) const {
  auto Y = [&](double v) { return f.box.bottom() - (v - y.min) / (y.max - y.min) * f.box.height(); };
  p.setFont(f.Font(8.5, true));
  p.setPen(Qt::black);
  p.drawText(QRectF(f.box.left(), f.box.top() - f.Pt(14), f.box.width(), f.Pt(13)),
             Qt::AlignLeft | Qt::AlignBottom, name);

  // Grid: time ticks shared by every panel, value ticks of this panel with their labels.
  p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), f.Pt(0.5)));
  ForEachTick(time.min, time.max, time.step,
              [&](double t) { p.drawLine(QPointF(f.X(t), f.box.top()), QPointF(f.X(t), f.box.bottom())); });
  p.setFont(f.Font(7.5));
  ForEachTick(y.min, y.max, y.step, [&](double v) {
    p.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), f.Pt(0.5)));
    p.drawLine(QPointF(f.box.left(), Y(v)), QPointF(f.box.right(), Y(v)));
    p.setPen(Qt::black);
    p.drawText(QRectF(f.box.left() - f.Pt(62), Y(v) - f.Pt(6), f.Pt(58), f.Pt(12)),
               Qt::AlignRight | Qt::AlignVCenter, TickText(v, y.step));
  });

  if (points.empty()) {
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.setFont(f.Font(9));
    p.drawText(f.box, Qt::AlignCenter, QStringLiteral("no data"));
  } else {
    p.save();
    p.setClipRect(f.box.adjusted(0, -f.Pt(0.5), 0, f.Pt(0.5)));
    const double gapLimit = GapLimit(points);
    QPainterPath path;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const QPointF here(f.X(points[i].x), Y(points[i].y));
      if (i == 0 || points[i].x - points[i - 1].x > gapLimit || points[i].x < points[i - 1].x) {
        path.moveTo(here);
        continue;
      }
      if (steps) path.lineTo(here.x(), Y(points[i - 1].y));
      path.lineTo(here);
    }
    p.setPen(QPen(colour, f.Pt(0.8), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    // Isolated samples would vanish as zero-length lines.
    p.setPen(QPen(colour, f.Pt(1.6), Qt::SolidLine, Qt::RoundCap));
    for (std::size_t i = 0; i < points.size(); ++i) {
      const bool joinedBefore = i > 0 && points[i].x - points[i - 1].x <= gapLimit;
      const bool joinedAfter = i + 1 < points.size() && points[i + 1].x - points[i].x <= gapLimit;
      if (!joinedBefore && !joinedAfter) p.drawPoint(QPointF(f.X(points[i].x), Y(points[i].y)));
    }
    p.restore();
  }
  p.setPen(QPen(QColor(0x60, 0x60, 0x60), f.Pt(0.6)));
  p.setBrush(Qt::NoBrush);
  p.drawRect(f.box);
}

void CStripChartPage::PaintStateBand(QPainter& p, const Frame& f) const {
  p.setFont(f.Font(8.5, true));
  p.setPen(Qt::black);
  p.drawText(QRectF(f.box.left(), f.box.top() - f.Pt(14), f.box.width(), f.Pt(13)),
             Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Correction state"));
  p.save();
  p.setClipRect(f.box);
  p.setPen(Qt::NoPen);
  std::vector<ChartPoint> xs;
  xs.reserve(data.states.size());
  for (const auto& s : data.states) xs.push_back({s.x, 0});
  const double gapLimit = GapLimit(xs);
  // Each position's state holds until the next position, or for one typical step before a gap;
  // runs of one state become one rectangle.
  std::size_t i = 0;
  while (i < data.states.size()) {
    std::size_t j = i;
    while (j + 1 < data.states.size() && data.states[j + 1].state == data.states[i].state &&
           data.states[j + 1].x - data.states[j].x <= gapLimit && data.states[j + 1].x >= data.states[j].x)
      ++j;
    double end = data.states[j].x + std::min(gapLimit / 4, 1.0);
    if (j + 1 < data.states.size() && data.states[j + 1].x - data.states[j].x <= gapLimit &&
        data.states[j + 1].x >= data.states[j].x)
      end = data.states[j + 1].x;
    const double x0 = f.X(data.states[i].x), x1 = std::max(f.X(end), x0 + f.Pt(0.3));
    p.fillRect(QRectF(x0, f.box.top(), x1 - x0, f.box.height()), StateColour(data.states[i].state));
    i = j + 1;
  }
  p.restore();
  if (data.states.empty()) {
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.setFont(f.Font(8));
    p.drawText(f.box, Qt::AlignCenter, QStringLiteral("no data"));
  }
  p.setPen(QPen(QColor(0x60, 0x60, 0x60), f.Pt(0.6)));
  p.setBrush(Qt::NoBrush);
  p.drawRect(f.box);
}

void CStripChartPage::PaintTimeAxis(QPainter& p, const Frame& f) const {
  p.setFont(f.Font(8));
  p.setPen(Qt::black);
  ForEachTick(time.min, time.max, time.step, [&](double t) {
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), f.Pt(0.6)));
    p.drawLine(QPointF(f.X(t), f.box.bottom()), QPointF(f.X(t), f.box.bottom() + f.Pt(3)));
    p.setPen(Qt::black);
    p.drawText(QRectF(f.X(t) - f.Pt(30), f.box.bottom() + f.Pt(4), f.Pt(60), f.Pt(11)), Qt::AlignCenter,
               Clock(t));
  });
  p.setFont(f.Font(8));
  p.drawText(QRectF(f.box.left(), f.box.bottom() + f.Pt(15), f.box.width(), f.Pt(11)), Qt::AlignCenter,
             QStringLiteral("GPS time of day (hh:mm)"));
}

void CStripChartPage::PaintLegend(QPainter& p, const Frame& f) const {
  p.setFont(f.Font(8));
  const QFontMetricsF metrics(p.font(), p.device());
  double x = f.box.left();
  const double y = f.box.bottom() + f.Pt(29);
  for (const auto& s : StateStyles()) {
    p.fillRect(QRectF(x, y + f.Pt(1.5), f.Pt(14), f.Pt(8)), s.colour);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), f.Pt(0.4)));
    p.drawRect(QRectF(x, y + f.Pt(1.5), f.Pt(14), f.Pt(8)));
    p.setPen(Qt::black);
    const QString name = QString::fromLatin1(s.name);
    p.drawText(QRectF(x + f.Pt(18), y, f.Pt(100), f.Pt(11)), Qt::AlignLeft | Qt::AlignVCenter, name);
    x += f.Pt(18) + metrics.horizontalAdvance(name) + f.Pt(16);
  }
}
