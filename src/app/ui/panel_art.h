#pragma once

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <string>

class QPainter;

// The pictures of the front panel, drawn by our own code once and kept: the moulded housing
// (422 x 187), the LCD area in its three looks (242 x 63 each), the six keys released and pushed,
// and the LCD rows in the dot-matrix font. Needs a QGuiApplication; use on the UI thread only.
class CPanelArt {
 public:
  static constexpr QSize kPanelSize{422, 187};
  static constexpr QPoint kLcdOrigin{90, 62};
  static constexpr QSize kLcdSize{242, 63};
  // Row text origin: x = 99, y = 67 + 26 * row; one character cell every 14 pixels.
  static constexpr int kRowX = 99;
  static constexpr int kRowY = 67;
  static constexpr int kRowPitch = 26;
  static constexpr int kCellPitch = 14;
  static constexpr double kDotPitch = 2.4;
  static constexpr double kDotSize = 2.0;
  // Where the logging look shows its indicator; the same spot opens the log data window.
  static constexpr QRect kLoggingMark{322, 64, 8, 8};

  enum class LcdLook { Dark, Lit, Logging };
  enum class KeyFace { Up, Down, Right, Left, Esc, Enter };

  static const QColor kTextDark;  // RGB(0,128,0)
  static const QColor kTextLit;   // RGB(0,255,0)

  CPanelArt();

  const QPixmap& Panel() const { return panel; }
  const QPixmap& Lcd(LcdLook look) const;
  // The key picture; its size is the key's bitmap size.
  QPixmap Key(KeyFace face, bool pushed) const;
  static QSize KeySize(KeyFace face);

  // Draws one LCD row: every one of the sixteen cells shows its unlit dots faintly, the text's
  // dots in `colour`. Bytes are LCD font codes; text beyond sixteen characters is not drawn.
  static void DrawRow(QPainter& painter, int row, const std::string& text, const QColor& colour);
  // The rectangle a row's text covers.
  static QRect RowRect(int row);

 private:
  static QPixmap PaintPanel();
  static QPixmap PaintLcd(LcdLook look);

  QPixmap panel;
  QPixmap lcdDark;
  QPixmap lcdLit;
  QPixmap lcdLogging;
};
