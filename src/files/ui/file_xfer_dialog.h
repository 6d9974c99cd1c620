#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "files/file_xfer_engine.h"
#include "link/protocol/kavo_packet.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// "File Transfer": lists the receiver's data folder, downloads the selected files into the
// download folder and deletes files on the receiver. A window over CFileXferEngine, which holds
// all the state; the window mirrors it (entries with their " [status]", enabled controls, button
// 1's caption) after every change and shows the running download on two progress bars beside the
// list: the current file and the whole batch.
//
// Modeless; lives on the UI thread as long as its owner. The owner gives it the link and the
// download folder before showing it and hands it every received packet. The 10 ms watchdog timer
// runs while the window is visible, and also while hidden as long as work is pending, so a
// download started before hiding still recovers from a lost reply. The first show refreshes the
// list. Controls carry the object name "c<id>" of their resource id (list "c1230").
class CFileXferDialog : public QDialog {
  Q_OBJECT
 public:
  using IsConnectedFn = std::function<bool()>;
  using SendFn = std::function<bool(const KavoPacket& packet, int withChecksum)>;

  static constexpr int kListId = 1230;
  static constexpr int kRefreshId = 1231;
  static constexpr int kGetId = 1232;
  static constexpr int kDeleteId = 1235;
  static constexpr int kDeleteWhenDoneId = 1237;
  static constexpr int kButton1Id = 1;

  explicit CFileXferDialog(QWidget* parent = nullptr);
  ~CFileXferDialog() override;

  // The link requests go through (each sent with the checksum trailer, only while isConnected
  // says so). Until given, the link counts as down.
  void SetLink(IsConnectedFn isConnected, SendFn send);
  // Where downloads land; taken by each download when it is queued.
  void SetDownloadFolder(const std::string& folder) { engine->SetDownloadFolder(folder); }
  // Every received packet; false for those that are not file transfer replies.
  bool OnPacket(const KavoPacket& packet) { return engine->OnPacket(packet); }

  CFileXferEngine& Engine() { return *engine; }
  bool WatchdogRunning() const { return watchdog.isActive(); }

  QListWidget* List() const { return list; }
  QPushButton* RefreshButton() const { return refreshButton; }
  QPushButton* GetButton() const { return getButton; }
  QPushButton* DeleteButton() const { return deleteButton; }
  QCheckBox* DeleteWhenDoneCheck() const { return deleteWhenDone; }
  QPushButton* Button1() const { return button1; }
  QProgressBar* FileProgress() const { return fileBar; }
  QProgressBar* BatchProgress() const { return batchBar; }
  QLabel* ProgressText() const { return progressText; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Brings the window in line with the engine.
  void Sync();
  void SyncList();
  void SyncProgress();
  void UpdateWatchdog();
  std::vector<int> SelectedRows() const;
  void OnButton1();

  IsConnectedFn isConnected;
  SendFn send;
  std::unique_ptr<CFileXferEngine> engine;
  QTimer watchdog;
  bool shownOnce = false;
  // Jobs seen in the current batch, for the batch bar (the engine forgets finished jobs).
  std::size_t batchTotal = 0;

  QListWidget* list = nullptr;
  QPushButton* refreshButton = nullptr;
  QPushButton* getButton = nullptr;
  QPushButton* deleteButton = nullptr;
  QCheckBox* deleteWhenDone = nullptr;
  QPushButton* button1 = nullptr;
  QGroupBox* progressGroup = nullptr;
  QLabel* progressText = nullptr;
  QProgressBar* fileBar = nullptr;
  QProgressBar* batchBar = nullptr;
  QLabel* batchText = nullptr;
};
