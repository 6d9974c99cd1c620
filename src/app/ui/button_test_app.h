#pragma once

#include <filesystem>
#include <memory>

class CButtonTestDoc;
class CMainFrame;
class CQtPrompts;
class CSettingsProfile;

// Where the application finds its files; empty paths select the defaults.
struct AppPaths {
  std::filesystem::path settingsFile;  // default: CSettingsProfile::DefaultPath()
  std::filesystem::path lockFolder;    // default: CInstanceLock::DefaultFolder()
};

// The windowed application: builds the settings file access, the document, the main window and
// its view, and shows the window. Needs a QApplication; lives on the UI thread for the whole run.
class CButtonTestApp {
 public:
  explicit CButtonTestApp(AppPaths paths = {});
  ~CButtonTestApp();
  CButtonTestApp(const CButtonTestApp&) = delete;
  CButtonTestApp& operator=(const CButtonTestApp&) = delete;

  // The start-up steps, once; false when the program should end at once.
  bool InitInstance();

  CMainFrame* MainFrame() const { return mainFrame.get(); }
  CSettingsProfile& Profile() { return *profile; }
  CQtPrompts& Prompts() { return *prompts; }

 private:
  AppPaths paths;
  std::unique_ptr<CSettingsProfile> profile;
  std::unique_ptr<CQtPrompts> prompts;
  std::unique_ptr<CButtonTestDoc> document;
  // Last, so it goes first: the window and its view may use everything above until they are gone.
  std::unique_ptr<CMainFrame> mainFrame;
};
