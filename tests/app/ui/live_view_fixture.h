#pragma once

// A main window whose view connects to a running plowsim through its own link, as ./run does: the
// settings file is written from the given text, prompts are recorded, and the view is instance 1
// (the instance lock is the application's).

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/settings_profile.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/button_test_view.h"
#include "app/ui/main_frame.h"
#include "support/prompt_recorder.h"

class CLiveViewFixture {
 public:
  // `connectionDialog` stands in for the connection dialog (empty: the real one, modal).
  CLiveViewFixture(const std::filesystem::path& folder, const std::string& settingsText,
                   const std::string& simulatorDevice,
                   std::function<bool(CPortSettings&)> connectionDialog = {})
      : profile(WriteSettings(folder / "Plowview.ini", settingsText)) {
    ViewServices services;
    services.profile = &profile;
    services.prompts = &prompts;
    services.simulatorDevice = simulatorDevice;
    services.connectionDialog = std::move(connectionDialog);
    view = new CButtonTestView(&doc, services);
    frame.SetView(view);
    view->OnInitialUpdate();
    frame.show();
  }

  CButtonTestView* View() const { return view; }
  CMainFrame& Frame() { return frame; }
  CSettingsProfile& Profile() { return profile; }
  CPromptRecorder& Prompts() { return prompts; }

 private:
  static std::filesystem::path WriteSettings(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
    return file;
  }

  CSettingsProfile profile;
  CPromptRecorder prompts;
  CButtonTestDoc doc;
  CMainFrame frame;  // owns the view
  CButtonTestView* view = nullptr;
};
