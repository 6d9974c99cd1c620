#include "app/ui/button_test_app.h"

#include <QCoreApplication>

#include "app/settings_profile.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/button_test_view.h"
#include "app/ui/main_frame.h"
#include "app/ui/qt_prompts.h"

CButtonTestApp::CButtonTestApp(AppPaths paths) : paths(std::move(paths)) {}

CButtonTestApp::~CButtonTestApp() = default;

bool CButtonTestApp::InitInstance() {
  if (mainFrame) return false;
  // The application display name stays unset on purpose: Qt would append it to every title, and
  // the title belongs to the view alone.
  QCoreApplication::setApplicationName(QString::fromLatin1(CButtonTestView::kProgramName));

  profile = std::make_unique<CSettingsProfile>(paths.settingsFile.empty() ? CSettingsProfile::DefaultPath()
                                                                          : paths.settingsFile);
  prompts = std::make_unique<CQtPrompts>();
  document = std::make_unique<CButtonTestDoc>();
  mainFrame = std::make_unique<CMainFrame>();
  prompts->SetParentWidget(mainFrame.get());

  ViewServices services;
  services.profile = profile.get();
  services.prompts = prompts.get();
  services.lockFolder = paths.lockFolder;
  auto* view = new CButtonTestView(document.get(), services);
  mainFrame->SetView(view);
  view->OnInitialUpdate();

  mainFrame->show();
  return true;
}
