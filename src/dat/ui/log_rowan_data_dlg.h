#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <string>

class ISettingsStore;
class CSortListCtrl;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// Whether a log line passes the viewer's filter: state 0 passes everything; 1 ("Show") only lines
// whose first character is one of `codes`, 2 ("Hide") only lines whose first character is not.
// An empty line or an empty code text finds nothing.
bool LogLinePassesFilter(const std::string& line, int filterState, const std::string& codes);

// A log text as one list row: line breaks removed, every tab four blanks.
std::string CleanLogViewerLine(const std::string& text);

// The live log viewer ("LogRowan Data"): the newest log lines in a one-column sortable list, with
// pause, follow-newest and a filter by line code kept in the profile (section "LogRowanFilter",
// keys "State" and "Filter"), and four event buttons whose texts the owner writes into the log as
// "M" lines. Modeless; the owner keeps it for the program's life and hides rather than closes it.
//
// User-interface thread only. `profile` may be null (nothing is read or stored) and must outlive
// the window otherwise.
class LogRowanDataDlg final : public QDialog {
 public:
  static constexpr int kMaxLines = 2001;  // the list never holds more

  explicit LogRowanDataDlg(ISettingsStore* profile, QWidget* parent = nullptr);
  ~LogRowanDataDlg() override;

  // One log line: cleaned, filtered, dropped while paused, appended (the oldest row goes once the
  // list is full) and scrolled into view when following the newest line.
  void AddLine(const std::string& line);
  // The text of event `slot` (0-3) when its button was pressed since the last call; one text
  // however often the button was pressed in between.
  std::optional<std::string> TakeEvent(int slot);
  void SetCaption(const QString& caption);
  // Where Esc goes (pressed and released): the receiver's Esc key on the front panel, not the
  // dialog's own close. Without a handler Esc does nothing here.
  void SetPanelKeyHandler(std::function<void(QKeyEvent* event)> handler) { panelKeys = std::move(handler); }

  CSortListCtrl* List() const { return list; }
  int LineCount() const;
  int FilterState() const { return filterState; }
  QString FilterCodes() const { return filterCodes; }

  // The controls, for the owner's layout tests and for tests.
  QCheckBox* PauseBox() const { return pauseBox; }
  QCheckBox* FollowBox() const { return followBox; }
  QComboBox* FilterCombo() const { return filterCombo; }
  QLineEdit* FilterEdit() const { return filterEdit; }
  QLineEdit* EventEdit(int slot) const { return eventEdits.at(static_cast<std::size_t>(slot)); }
  QPushButton* EventButton(int slot) const { return eventButtons.at(static_cast<std::size_t>(slot)); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void OnFilterSelected(int index);
  void OnFilterEdited(const QString& text);
  // F1-F4 index, or -1.
  static int EventKey(int key);

  ISettingsStore* profile;
  std::function<void(QKeyEvent*)> panelKeys;
  CSortListCtrl* list = nullptr;
  QCheckBox* pauseBox = nullptr;
  QCheckBox* followBox = nullptr;
  QComboBox* filterCombo = nullptr;
  QLineEdit* filterEdit = nullptr;
  std::array<QLineEdit*, 4> eventEdits{};
  std::array<QPushButton*, 4> eventButtons{};
  std::array<bool, 4> eventFlags{};
  std::array<QString, 4> eventTexts;

  int filterState = 0;
  QString filterCodes = QStringLiteral("PQX");
  std::string codesUtf8 = "PQX";  // filterCodes as the lines are: byte text
  bool paused = false;
  bool followNewest = true;
};
