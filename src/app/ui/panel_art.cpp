#include "app/ui/panel_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "app/lcd_font.h"
#include "app/lcd_model.h"

const QColor CPanelArt::kTextDark(0, 128, 0);
const QColor CPanelArt::kTextLit(0, 255, 0);

namespace {

// Unlit dots: faint on the lit glass, fainter on the dark one.
QColor UnlitDot(const QColor& text) {
  return text == CPanelArt::kTextLit ? QColor(0, 255, 0, 34) : QColor(120, 160, 120, 22);
}

void Screw(QPainter& p, QPointF centre) {
  QRadialGradient g(centre - QPointF(1, 1), 5);
  g.setColorAt(0, QColor(120, 122, 128));
  g.setColorAt(1, QColor(36, 37, 40));
  p.setPen(QPen(QColor(14, 14, 16), 1));
  p.setBrush(g);
  p.drawEllipse(centre, 4.5, 4.5);
  p.setPen(QPen(QColor(20, 20, 22), 1.2));
  p.drawLine(centre + QPointF(-2.6, 0), centre + QPointF(2.6, 0));
}

QPainterPath Arrow(QRectF box, CPanelArt::KeyFace face) {
  const QPointF c = box.center();
  const double s = 7;
  QPolygonF tri;
  switch (face) {
    case CPanelArt::KeyFace::Up:
      tri << QPointF(c.x(), c.y() - s) << QPointF(c.x() + s, c.y() + s * 0.6)
          << QPointF(c.x() - s, c.y() + s * 0.6);
      break;
    case CPanelArt::KeyFace::Down:
      tri << QPointF(c.x(), c.y() + s) << QPointF(c.x() + s, c.y() - s * 0.6)
          << QPointF(c.x() - s, c.y() - s * 0.6);
      break;
    case CPanelArt::KeyFace::Right:
      tri << QPointF(c.x() + s, c.y()) << QPointF(c.x() - s * 0.6, c.y() - s)
          << QPointF(c.x() - s * 0.6, c.y() + s);
      break;
    default:
      tri << QPointF(c.x() - s, c.y()) << QPointF(c.x() + s * 0.6, c.y() - s)
          << QPointF(c.x() + s * 0.6, c.y() + s);
      break;
  }
  QPainterPath path;
  path.addPolygon(tri);
  path.closeSubpath();
  return path;
}

}  // namespace

CPanelArt::CPanelArt()
    : panel(PaintPanel()),
      lcdDark(PaintLcd(LcdLook::Dark)),
      lcdLit(PaintLcd(LcdLook::Lit)),
      lcdLogging(PaintLcd(LcdLook::Logging)) {}

const QPixmap& CPanelArt::Lcd(LcdLook look) const {
  switch (look) {
    case LcdLook::Dark:
      return lcdDark;
    case LcdLook::Logging:
      return lcdLogging;
    case LcdLook::Lit:
      break;
  }
  return lcdLit;
}

QSize CPanelArt::KeySize(KeyFace face) {
  switch (face) {
    case KeyFace::Up:
      return {61, 43};
    case KeyFace::Down:
      return {62, 43};
    case KeyFace::Right:
    case KeyFace::Left:
      return {62, 42};
    case KeyFace::Esc:
    case KeyFace::Enter:
      break;
  }
  return {61, 44};
}

QPixmap CPanelArt::PaintPanel() {
  QPixmap pixmap(kPanelSize);
  pixmap.fill(QColor(18, 18, 20));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  // The moulded housing: a rounded body lit from above, with a lighter rim.
  const QRectF body(1.5, 1.5, kPanelSize.width() - 3, kPanelSize.height() - 3);
  QLinearGradient shell(0, 0, 0, kPanelSize.height());
  shell.setColorAt(0, QColor(74, 76, 82));
  shell.setColorAt(0.08, QColor(52, 54, 59));
  shell.setColorAt(0.85, QColor(34, 35, 39));
  shell.setColorAt(1, QColor(22, 22, 25));
  p.setPen(QPen(QColor(96, 98, 104), 1.2));
  p.setBrush(shell);
  p.drawRoundedRect(body, 16, 16);

  // A shallow inner face, slightly proud of the rim.
  const QRectF face(8.5, 6.5, kPanelSize.width() - 17, kPanelSize.height() - 13);
  QLinearGradient faceFill(0, face.top(), 0, face.bottom());
  faceFill.setColorAt(0, QColor(47, 49, 54));
  faceFill.setColorAt(1, QColor(31, 32, 36));
  p.setPen(QPen(QColor(20, 20, 23), 1));
  p.setBrush(faceFill);
  p.drawRoundedRect(face, 12, 12);

  // The maker's emblem, top left: a ring with furrows.
  const QPointF emblem(72.5, 22);
  QRadialGradient badge(emblem - QPointF(2, 3), 12);
  badge.setColorAt(0, QColor(206, 168, 64));
  badge.setColorAt(1, QColor(120, 86, 20));
  p.setPen(QPen(QColor(16, 16, 16), 1));
  p.setBrush(badge);
  p.drawEllipse(emblem, 10, 10);
  p.setPen(QPen(QColor(44, 34, 10), 1.4));
  for (int i = -1; i <= 1; ++i)
    p.drawArc(QRectF(emblem.x() - 7, emblem.y() - 2 + 3.5 * i, 14, 8), 20 * 16, 140 * 16);

  // Ridges along the top edge, as on a moulded case.
  p.setPen(QPen(QColor(26, 26, 29), 1.5));
  for (int x = 150; x <= 270; x += 8) p.drawLine(QPointF(x, 16), QPointF(x, 36));
  p.setPen(QPen(QColor(70, 72, 78), 1));
  for (int x = 151; x <= 271; x += 8) p.drawLine(QPointF(x, 16), QPointF(x, 36));

  // Status lamp, top right.
  QRadialGradient lamp(QPointF(392, 22), 5);
  lamp.setColorAt(0, QColor(90, 40, 32));
  lamp.setColorAt(1, QColor(30, 12, 10));
  p.setPen(QPen(QColor(12, 12, 12), 1));
  p.setBrush(lamp);
  p.drawEllipse(QPointF(392, 22), 4, 4);

  for (const QPointF c : {QPointF(20, 18), QPointF(402, 168), QPointF(20, 168)}) Screw(p, c);

  // The recess the LCD glass sits in: dark walls, lighter lower lip.
  const QRectF well(kLcdOrigin.x() - 7, kLcdOrigin.y() - 7, kLcdSize.width() + 14, kLcdSize.height() + 14);
  QLinearGradient wall(0, well.top(), 0, well.bottom());
  wall.setColorAt(0, QColor(8, 8, 9));
  wall.setColorAt(0.7, QColor(20, 20, 23));
  wall.setColorAt(1, QColor(78, 80, 86));
  p.setPen(QPen(QColor(10, 10, 12), 1));
  p.setBrush(wall);
  p.drawRoundedRect(well, 5, 5);

  // Key wells: each key sits in a slightly darker socket.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(20, 20, 23));
  for (const QRect r : {QRect(61, 137, 61, 44), QRect(141, 137, 61, 43), QRect(220, 137, 62, 43),
                        QRect(299, 137, 62, 42), QRect(15, 72, 61, 44), QRect(345, 72, 62, 42)})
    p.drawRoundedRect(QRectF(r).adjusted(-2, -2, 2, 2), 8, 8);
  return pixmap;
}

QPixmap CPanelArt::PaintLcd(LcdLook look) {
  QPixmap pixmap(kLcdSize);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF glass(0, 0, kLcdSize.width(), kLcdSize.height());
  if (look == LcdLook::Dark) {
    QLinearGradient g(0, 0, 0, kLcdSize.height());
    g.setColorAt(0, QColor(14, 24, 14));
    g.setColorAt(1, QColor(22, 34, 22));
    p.fillRect(glass, g);
  } else {
    // A backlit panel: brightest in the middle, falling off towards the frame.
    p.fillRect(glass, QColor(0, 58, 8));
    QRadialGradient glow(glass.center(), kLcdSize.width() * 0.62);
    glow.setColorAt(0, QColor(20, 118, 24));
    glow.setColorAt(0.7, QColor(6, 80, 12));
    glow.setColorAt(1, QColor(0, 52, 6));
    p.fillRect(glass, glow);
  }
  // Inner shadow of the recess on the top and left edges.
  QLinearGradient top(0, 0, 0, 6);
  top.setColorAt(0, QColor(0, 0, 0, 150));
  top.setColorAt(1, QColor(0, 0, 0, 0));
  p.fillRect(QRectF(0, 0, kLcdSize.width(), 6), top);
  QLinearGradient left(0, 0, 5, 0);
  left.setColorAt(0, QColor(0, 0, 0, 120));
  left.setColorAt(1, QColor(0, 0, 0, 0));
  p.fillRect(QRectF(0, 0, 5, kLcdSize.height()), left);

  if (look == LcdLook::Logging) {
    // The log activity mark: an amber lamp in the glass's top right corner.
    const QRectF mark = QRectF(kLoggingMark).translated(-kLcdOrigin);
    QRadialGradient amber(mark.center(), mark.width() / 2);
    amber.setColorAt(0, QColor(255, 214, 80));
    amber.setColorAt(1, QColor(200, 110, 0));
    p.setPen(QPen(QColor(60, 40, 0), 0.8));
    p.setBrush(amber);
    p.drawEllipse(mark.adjusted(1, 1, -1, -1));
  }
  return pixmap;
}

QPixmap CPanelArt::Key(KeyFace face, bool pushed) const {
  const QSize size = KeySize(face);
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF cap = QRectF(1.5, pushed ? 2.5 : 1.5, size.width() - 3, size.height() - 4.5);

  // A rubber key: a domed cap lit from above; pushed, it sinks and its top goes dark.
  QLinearGradient fill(0, cap.top(), 0, cap.bottom());
  const bool enter = face == KeyFace::Enter;
  const QColor light = enter ? QColor(74, 116, 70) : QColor(92, 95, 102);
  const QColor dark = enter ? QColor(32, 58, 32) : QColor(44, 46, 51);
  fill.setColorAt(0, pushed ? dark : light);
  fill.setColorAt(1, pushed ? light.darker(130) : dark);
  if (!pushed) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 140));
    p.drawRoundedRect(cap.translated(0, 2), 7, 7);
  }
  p.setPen(QPen(pushed ? QColor(10, 10, 12) : QColor(128, 131, 138), 1));
  p.setBrush(fill);
  p.drawRoundedRect(cap, 7, 7);

  const QRectF label = cap.adjusted(0, pushed ? 1 : 0, 0, pushed ? 1 : 0);
  const QColor ink = pushed ? QColor(196, 198, 204) : QColor(236, 238, 242);
  if (face == KeyFace::Esc || face == KeyFace::Enter) {
    QFont font = p.font();
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(label, Qt::AlignCenter,
               face == KeyFace::Esc ? QStringLiteral("Esc") : QStringLiteral("Enter"));
  } else {
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(Arrow(label, face));
  }
  return pixmap;
}

QRect CPanelArt::RowRect(int row) {
  const int height = static_cast<int>(kDotPitch * (LcdFont::kRows - 1) + kDotSize) + 2;
  return {kRowX, kRowY + kRowPitch * row, kCellPitch * CLcdModel::kColumns, height};
}

void CPanelArt::DrawRow(QPainter& painter, int row, const std::string& text, const QColor& colour) {
  if (row < 0 || row >= CLcdModel::kRows) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(Qt::NoPen);
  const QColor unlit = UnlitDot(colour);
  const double top = kRowY + kRowPitch * row;
  for (int cell = 0; cell < CLcdModel::kColumns; ++cell) {
    const std::uint8_t code = cell < static_cast<int>(text.size())
                                  ? static_cast<std::uint8_t>(text[static_cast<std::size_t>(cell)])
                                  : 0;
    const double left = kRowX + kCellPitch * cell;
    for (int column = 0; column < LcdFont::kColumns; ++column) {
      for (int dotRow = 0; dotRow < LcdFont::kRows; ++dotRow) {
        const QRectF dot(left + column * kDotPitch, top + dotRow * kDotPitch, kDotSize, kDotSize);
        painter.fillRect(dot, LcdFont::Dot(code, column, dotRow) ? colour : unlit);
      }
    }
  }
  painter.restore();
}
