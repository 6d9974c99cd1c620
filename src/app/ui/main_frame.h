#pragma once

#include <QMainWindow>
#include <map>

class CButtonTestView;
class QAction;
class QMenu;
class QSlider;
class QToolBar;

// Command ids of the main window's menu and accelerators; the view enables and handles them.
inline constexpr int kIdFileConnect = 32771;
inline constexpr int kIdFileDisconnect = 32772;
inline constexpr int kIdClearBbRam = 32777;
inline constexpr int kIdFilePlayRawLog = 32790;
inline constexpr int kIdFileWebPanel = 32791;
inline constexpr int kIdAppExit = 0xE141;
inline constexpr int kIdAppAbout = 0xE140;

// The top-level window: the "&File" menu with its accelerators, the "&Help" menu with the About
// box, and the view as its whole client area. No toolbar, no status bar, no sizing border, no maximize
// button; the window keeps the view's fixed size. The title is only ever the one the view sets.
class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(QWidget* parent = nullptr);

  // Makes `view` the client area (the frame takes ownership), routes the commands to it and fits
  // the window to it.
  void SetView(CButtonTestView* view);
  CButtonTestView* View() const { return view; }

  // The menu action of a command id, nullptr for an unknown id.
  QAction* CommandAction(int commandId) const;
  QMenu* FileMenu() const { return fileMenu; }
  QMenu* HelpMenu() const { return helpMenu; }
  // Shown under the panel while a raw log plays: where in the file, and a handle to move there.
  QToolBar* PlaybackBar() const { return playbackBar; }
  QSlider* PlaybackSlider() const { return playbackSlider; }

  // Asks the view which commands are enabled; done whenever the menu opens and when the view says
  // its state changed, so a disabled command's accelerator is off too.
  void UpdateCommandUi();

 protected:
  // Closing the window ends the connection cleanly while the view and its link still exist.
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* AddCommand(int commandId, const QString& text);

  void OnAppAbout();
  void UpdatePlaybackBar();

  QMenu* fileMenu = nullptr;
  QMenu* helpMenu = nullptr;
  CButtonTestView* view = nullptr;
  QToolBar* playbackBar = nullptr;
  QSlider* playbackSlider = nullptr;
  std::map<int, QAction*> commands;
};
