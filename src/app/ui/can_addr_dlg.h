#pragma once

#include <QDialog>
#include <string>
#include <vector>

class IPrompts;
class QListWidget;

// "Select Device By Address": the CAN link fills it with the devices it found on the bus (up to
// 255 entries) and shows it modally; OK needs a selected entry and keeps its text. Modal; UI
// thread. The list carries the object name "c1066".
class CCanAddrDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMaxEntries = 255;
  static constexpr int kListId = 1066;

  // `prompts` must outlive the dialog.
  explicit CCanAddrDlg(IPrompts& prompts, QWidget* parent = nullptr);

  // Adds an entry for the list; false (nothing added) once kMaxEntries are held. Entries go into
  // the list when the dialog opens.
  bool AddEntry(const std::string& entry);
  int EntryCount() const { return static_cast<int>(entries.size()); }
  // The chosen entry's text after OK; empty before.
  const std::string& Selected() const { return selected; }
  QListWidget* List() const { return list; }

  // OK: without a selection says so and stays open.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  IPrompts& prompts;
  std::vector<std::string> entries;
  std::string selected;
  QListWidget* list = nullptr;
  bool filled = false;
};
