#pragma once

#include <QSize>
#include <QWidget>
#include <filesystem>
#include <memory>

#include "app/port_settings.h"

class CButtonTestDoc;
class CInstanceLock;
class CSettingsProfile;
class IPrompts;

// What the application hands the view: borrowed objects that outlive it, and where the instance
// lock files go. Grows as the view takes on more of the program.
struct ViewServices {
  CSettingsProfile* profile = nullptr;
  IPrompts* prompts = nullptr;
  std::filesystem::path lockFolder;  // empty: CInstanceLock::DefaultFolder()
};

// The main view: the receiver's front panel, filling the main window's client area at the panel's
// fixed size. It owns the settings for the whole run and is the only one that sets the window
// title. Lives on the UI thread.
class CButtonTestView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kPanelWidth = 422;
  static constexpr int kPanelHeight = 187;
  static constexpr const char* kProgramName = "Plowview";

  // `services.profile` must be set. The settings start at their defaults; the file is read at
  // the initial update.
  CButtonTestView(CButtonTestDoc* document, const ViewServices& services, QWidget* parent = nullptr);
  ~CButtonTestView() override;

  // Runs once, after the main window exists and holds this view: numbers the instance, titles the
  // main window "Plowview [N]" and reads the settings file.
  void OnInitialUpdate();

  // Whether the main window's command of this id may be chosen now.
  bool IsCommandEnabled(int commandId) const;

  int InstanceNumber() const { return instanceNumber; }
  CPortSettings& Settings() { return settings; }
  CButtonTestDoc* GetDocument() const { return document; }

  QSize sizeHint() const override { return {kPanelWidth, kPanelHeight}; }

 public slots:
  void OnFileConnect();
  void OnFileDisconnect();
  void OnClearBbRam();

 signals:
  // The enabling of the commands may have changed; the main window refreshes its menu.
  void CommandStatesChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CButtonTestDoc* document;
  ViewServices services;
  CPortSettings settings;
  std::unique_ptr<CInstanceLock> instanceLock;
  int instanceNumber = 1;
};
