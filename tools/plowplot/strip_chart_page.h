#pragma once

#include <QString>

#include <optional>

#include "strip_chart_data.h"

class QColor;
class QIODevice;
class QPainter;
class QRectF;

struct StripChartOptions {
  QString logName;                    // shown in the subtitle, and the fallback for the title
  std::optional<double> heightScale;  // metres spanned by the height axis; empty: automatic
};

// Draws one A4 landscape page: title (station, UTC date and hour), then stacked panels over a
// shared time-of-day axis (height, horizontal speed, satellites used, PDOP) and the correction
// state as a coloured band with its legend. Needs a QGuiApplication (fonts).
class CStripChartPage {
 public:
  CStripChartPage(const StripChartData& data, StripChartOptions options);

  // Writes the PDF to `device` (open for writing). False with a reason when painting cannot start.
  bool Write(QIODevice* device, QString& error) const;

  // The title line; also the PDF's document title.
  QString Title() const;

 private:
  struct Axis {
    double min = 0, max = 1, step = 1;
  };
  struct Frame;

  void Paint(QPainter& p, double unit) const;
  void PaintSeriesPanel(QPainter& p, const Frame& f, const QString& name,
                        const std::vector<ChartPoint>& points, const Axis& y, const QColor& colour,
                        bool steps) const;
  void PaintStateBand(QPainter& p, const Frame& f) const;
  void PaintTimeAxis(QPainter& p, const Frame& f) const;
  void PaintLegend(QPainter& p, const Frame& f) const;
  QString Subtitle() const;
  Axis HeightAxis() const;

  const StripChartData& data;
  StripChartOptions options;
  Axis time;
};
