#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <filesystem>
#include <memory>

class CButtonTestDoc;
class CButtonTestView;
class CInstanceLock;
class CMainFrame;
class CQtPrompts;
class CSettingsProfile;
class CSimulatorProcess;

// Where the application finds its files; empty paths select the defaults.
struct AppPaths {
  std::filesystem::path settingsFile;  // default: CSettingsProfile::DefaultPath()
  std::filesystem::path lockFolder;    // default: CInstanceLock::DefaultFolder()
};

// What the command line changes for this run of the window.
struct AppRunOptions {
  bool simulate = false;  // start plowsim and connect to it at once
  QStringList simulatorArguments;
  bool relayServer = false;  // "Enable as Server" on for this run
  int relayPort = -1;        // -1: the stored port
  // Save the main window here once the panel shows the receiver (or when no connection is under
  // way 3 s after start), then close the window.
  std::filesystem::path screenshot;
  // --play FILE [--speed N]: play this raw packet log instead of connecting.
  std::string playFile;
  double playSpeed = 1.0;
  // --web-panel [PORT]: serve the panel to browsers for this run.
  bool webPanel = false;
  int webPanelPort = -1;
};

// The windowed application: builds the settings file access, the document, the main window and
// its view, and shows the window. Needs a QApplication; lives on the UI thread for the whole run.
class CButtonTestApp {
 public:
  explicit CButtonTestApp(AppPaths paths = {}, AppRunOptions options = {});
  ~CButtonTestApp();
  CButtonTestApp(const CButtonTestApp&) = delete;
  CButtonTestApp& operator=(const CButtonTestApp&) = delete;

  // The start-up steps, once; false when the program should end at once (a second call, or a
  // simulator that did not start).
  bool InitInstance();

  CMainFrame* MainFrame() const { return mainFrame.get(); }
  // The program's single view, null before InitInstance made it. Parts that talk to the receiver
  // are handed the interfaces they need (the connection control, the logger's host) rather than
  // reaching for this, so that they run without a window too.
  CButtonTestView* GetMainView() const;
  CSettingsProfile& Profile() { return *profile; }
  CQtPrompts& Prompts() { return *prompts; }
  // After a screenshot run: false when the picture could not be written.
  bool ScreenshotFailed() const { return screenshotFailed; }

 private:
  void WatchForScreenshot();
  void CheckScreenshot();
  void OnScreenshotDeadline();
  void TakeScreenshot();

  AppPaths paths;
  AppRunOptions options;
  std::unique_ptr<CInstanceLock> instanceLock;
  std::unique_ptr<CSimulatorProcess> simulator;
  std::unique_ptr<CSettingsProfile> profile;
  std::unique_ptr<CQtPrompts> prompts;
  std::unique_ptr<CButtonTestDoc> document;
  // Last, so it goes first: the window and its view may use everything above until they are gone.
  std::unique_ptr<CMainFrame> mainFrame;

  QTimer screenshotDeadline;
  QElapsedTimer sinceStart;
  bool screenshotScheduled = false;
  bool screenshotTaken = false;
  bool screenshotFailed = false;
};
