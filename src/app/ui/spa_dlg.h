#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "link/protocol/kavo_packet.h"

class QLabel;
class QProgressBar;
class QPushButton;

// "S.P.A.": the receiver's processor usage by task. One labelled bar per task (up to 60) and the
// length of the measurement, filled from the receiver's task name and usage reports; "Restart"
// and "Request" ask the receiver to restart the measurement or to report.
//
// Modeless; lives on the UI thread for the whole run, hidden until shown. Requests leave through
// the send function the owner gives (the owner adds the link type and sends with the checksum
// trailer when asked to); without one, nothing is sent. Every control carries the object name
// "c<id>" of its resource id ("c1137" text, "c1110" bar), so the owner and tests find it by id.
class CSPADlg : public QDialog {
  Q_OBJECT
 public:
  using SendFn = std::function<bool(const KavoPacket& packet, int withChecksum)>;

  static constexpr int kSlots = 60;
  // Request actions.
  static constexpr std::uint8_t kActionStart = 0;    // sent by the owner when the link comes up
  static constexpr std::uint8_t kActionRestart = 1;  // "Restart"
  static constexpr std::uint8_t kActionRequest = 2;  // "Request" and the owner's 1 s refresh
  // Report kinds (data[2]).
  static constexpr std::uint8_t kNameReport = 0;
  static constexpr std::uint8_t kUsageReport = 2;

  static constexpr int kDurationTextId = 1138;
  static constexpr int kRestartId = 1135;
  static constexpr int kRequestButtonId = 1136;
  static constexpr int kSlotRows = 20;  // slots per column: three columns fit a 1366 x 768 screen

  explicit CSPADlg(QWidget* parent = nullptr);

  // How requests leave; the owner sends them with the checksum trailer when withChecksum is 1.
  void SetSend(SendFn send) { this->send = std::move(send); }
  // The font of the slot texts (the view's list font). A monospaced 8 point face until then.
  void SetListFont(const QFont& font);
  static QFont DefaultListFont();

  // True once a task name report arrived; stays true for the rest of the run.
  bool IsAvailable() const { return available; }

  // The request with `action`: id 0x8E, 93 11 action.
  static KavoPacket BuildRequest(std::uint8_t action);
  // Sends BuildRequest(action) with the checksum trailer; false when there is no send function or
  // it failed.
  bool SendRequest(std::uint8_t action);
  // The owner's periodic refresh: asks for a usage report.
  bool Refresh() { return SendRequest(kActionRequest); }

  // Takes a processor usage report (id 0x8F, 93 11, checksum good). Every field is read only
  // within the packet's length (less its checksum trailer): a report cut short fills what it
  // carries and no more. False, changing nothing, for any other packet.
  bool OnReport(const KavoPacket& packet);

  // Text id and bar id of slot 0-59.
  static int SlotTextId(int slot) { return slot == 0 ? 1137 : 1184 + 2 * slot; }
  static int SlotBarId(int slot) { return slot == 0 ? 1110 : 1183 + 2 * slot; }

  // For the owner and tests: the slot widgets, the duration text and the task name of a slot.
  QLabel* SlotText(int slot) const;
  QProgressBar* SlotBar(int slot) const;
  QString DurationText() const;
  const std::string& TaskName(int slot) const;

 private:
  void OnNameReport(const std::uint8_t* data, std::size_t end);
  void OnUsageReport(const std::uint8_t* data, std::size_t end);

  SendFn send;
  bool available = false;
  // The receiver's task names, kept for the run and shown with the next usage report.
  std::array<std::string, kSlots> taskNames;
  std::array<QLabel*, kSlots> texts{};
  std::array<QProgressBar*, kSlots> bars{};
  QLabel* duration = nullptr;
};
