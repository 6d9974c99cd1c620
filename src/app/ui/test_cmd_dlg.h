#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>

#include "link/protocol/kavo_packet.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

// "Command Panel": sends hand-made packets to the receiver. A freeform packet typed in hexadecimal
// and ready-made commands for the receiver's video input window, touchscreen filter, beeper and
// gamma setting; "Random" moves the video window to a random place every 2 s.
//
// Modeless; lives on the UI thread. The owner gives it the link (whether it is open, and how to
// send a packet; the panel always asks for the checksum trailer) before showing it. A button
// pressed while the link is not open shows "Link Not Available" modally and sends nothing.
// Every field and button carries the object name "c<id>" of its resource id ("c1202" is "d0").
//
// Fields are read as the C library's scanf would, without ever failing: hexadecimal fields as
// "%x" (blanks, an optional sign and "0x", then hex digits), decimal fields as "%d"; text that
// holds no number reads as 0, and a number too large for 32 bits wraps. One-byte fields keep the
// low byte, 16-bit fields the low 16 bits, sent high byte first.
class CTestCmdDlg : public QDialog {
  Q_OBJECT
 public:
  using IsOpenFn = std::function<bool()>;
  using SendFn = std::function<bool(const KavoPacket& packet, int withChecksum)>;
  using RandomFn = std::function<int()>;  // a number from 0 to kRandMax
  using NotAvailableFn = std::function<void()>;

  // Resource ids of the fields and buttons.
  static constexpr int kIdField = 1198;
  static constexpr int kD0Field = 1202;
  static constexpr int kLenField = 1204;
  static constexpr int kProductIdField = 1211;
  static constexpr int kXField = 1205;
  static constexpr int kYField = 1206;
  static constexpr int kChanField = 1207;
  static constexpr int kFlipField = 1208;
  static constexpr int kSizeList = 1213;
  static constexpr int kRandomCheck = 1161;
  static constexpr int kSkipStartField = 1216;
  static constexpr int kSkipStopField = 1217;
  static constexpr int kNumFiltField = 1218;
  static constexpr int kMinDeltaField = 1219;
  static constexpr int kLookBackField = 1220;
  static constexpr int kBeepDurationField = 1222;
  static constexpr int kVolumeField = 1223;
  static constexpr int kGammaField = 1227;
  static constexpr int kFreeformButton = 1209;
  static constexpr int kVideoSendButton = 1210;
  static constexpr int kHideVideoButton = 1214;
  static constexpr int kTscReprogramButton = 1215;
  static constexpr int kFilterButton = 1221;
  static constexpr int kBeepButton = 1225;
  static constexpr int kGammaButton = 1228;

  static constexpr int kRandomPeriodMs = 2000;
  static constexpr int kRandMax = 32767;
  static constexpr int kRandomMaxX = 620;
  static constexpr int kRandomMaxY = 360;
  static constexpr int kD0MaxChars = 99;  // characters of "d0" that are read
  static constexpr int kD0MaxPairs = 49;  // data bytes a freeform packet can be given

  explicit CTestCmdDlg(QWidget* parent = nullptr);

  // The link this panel sends through; until it is given, the link counts as not open.
  void SetLink(IsOpenFn isOpen, SendFn send);
  // Where the random window positions come from (default: Qt's global generator).
  void SetRandomSource(RandomFn random) { this->random = std::move(random); }
  // What a button does when the link is not open (default: CLinkNotAvailableDlg, modal).
  void SetLinkNotAvailableHandler(NotAvailableFn handler) { notAvailable = std::move(handler); }

  // Field readers ("%x" and "%d" without failure, see above).
  static std::uint32_t ReadHex(const QString& text);
  static std::int32_t ReadDecimal(const QString& text);
  // The freeform packet: id from `idText` (hex), data from the pairs of `d0Text`, length from
  // `lenText` (decimal, 16 bits, but never beyond the data area: a larger length sends the whole
  // zero-filled area).
  static KavoPacket BuildFreeform(const QString& idText, const QString& d0Text, const QString& lenText);

  QLineEdit* Field(int id) const;
  QPushButton* Button(int id) const;
  QListWidget* SizeList() const { return sizeList; }
  QCheckBox* RandomCheck() const { return randomCheck; }
  bool RandomTimerActive() const { return randomTimer.isActive(); }
  std::uint16_t RandomX() const { return randomX; }
  std::uint16_t RandomY() const { return randomY; }

 public slots:
  // One tick of the random timer: moves the video window to the position drawn at the previous
  // tick (0, 0 at the first), then draws the next one. Sends nothing while the link is not open
  // (a box every two seconds would bury the user) but still draws.
  void OnRandomTick();

 private:
  QLineEdit* AddField(int id, const QString& initial = QString());
  QPushButton* AddButton(int id, const QString& caption, void (CTestCmdDlg::*handler)());
  std::uint8_t Hex8(int id) const;
  std::uint8_t Dec8(int id) const;
  std::uint16_t Dec16(int id) const;
  // A display test command: data starts with its sub-identifier, `group`, then `rest`.
  static KavoPacket Command(std::uint8_t group, std::initializer_list<std::uint8_t> rest);
  bool LinkOpen() const;
  // A button's send: through the link when it is open, else the "Link Not Available" box.
  void SendFromButton(const KavoPacket& packet);
  std::uint16_t NextRandom(int limit);

  void OnFreeform();
  void OnVideoSend();
  void OnHideVideo();
  void OnTscReprogram();
  void OnTouchFilter();
  void OnBeep();
  void OnGamma();
  void OnRandomToggled(bool on);

  IsOpenFn isOpen;
  SendFn send;
  RandomFn random;
  NotAvailableFn notAvailable;
  std::map<int, QLineEdit*> fields;
  std::map<int, QPushButton*> buttons;
  QListWidget* sizeList = nullptr;
  QCheckBox* randomCheck = nullptr;
  QTimer randomTimer;
  std::uint16_t randomX = 0;
  std::uint16_t randomY = 0;
};
