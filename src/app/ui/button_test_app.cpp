#include "app/ui/button_test_app.h"

#include <QCoreApplication>
#include <QPixmap>
#include <cstdio>

#include "app/connection_control.h"
#include "app/instance_lock.h"
#include "app/settings_profile.h"
#include "app/simulator_process.h"
#include "app/stderr_lines.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/button_test_view.h"
#include "app/ui/main_frame.h"
#include "app/ui/qt_prompts.h"

namespace {

// A screenshot waits for a connection under way at most this long; the link gives up sooner.
constexpr qint64 kScreenshotLimitMs = 30000;
constexpr int kScreenshotFallbackMs = 3000;
// After the first display report, time for the second row to arrive.
constexpr int kScreenshotSettleMs = 500;

}  // namespace

CButtonTestApp::CButtonTestApp(AppPaths appPaths, AppRunOptions runOptions)
    : paths(std::move(appPaths)), options(std::move(runOptions)) {}

CButtonTestApp::~CButtonTestApp() = default;

CButtonTestView* CButtonTestApp::GetMainView() const {
  return mainFrame ? mainFrame->View() : nullptr;
}

bool CButtonTestApp::InitInstance() {
  if (mainFrame) return false;
  // The application display name stays unset on purpose: Qt would append it to every title, and
  // the title belongs to the view alone.
  QCoreApplication::setApplicationName(QString::fromLatin1(CButtonTestView::kProgramName));

  ViewServices services;
  if (options.simulate) {
    simulator = std::make_unique<CSimulatorProcess>();
    std::string error;
    if (!simulator->Start(options.simulatorArguments, error)) {
      WriteStderrLine(error);
      return false;
    }
    services.simulatorDevice = simulator->DevicePath();
  }

  profile = std::make_unique<CSettingsProfile>(paths.settingsFile.empty() ? CSettingsProfile::DefaultPath()
                                                                          : paths.settingsFile);
  prompts = std::make_unique<CQtPrompts>();
  document = std::make_unique<CButtonTestDoc>();
  mainFrame = std::make_unique<CMainFrame>();
  prompts->SetParentWidget(mainFrame.get());

  services.profile = profile.get();
  services.prompts = prompts.get();
  instanceLock = std::make_unique<CInstanceLock>(paths.lockFolder);
  services.instanceNumber = instanceLock->Number();
  services.relayServer = options.relayServer;
  services.relayPort = options.relayPort;
  services.playFile = options.playFile;
  services.playSpeed = options.playSpeed;
  services.webPanel = options.webPanel;
  services.webPanelPort = options.webPanelPort;
  auto* view = new CButtonTestView(document.get(), services);
  mainFrame->SetView(view);
  view->OnInitialUpdate();
  mainFrame->show();
  // The PC keyboard drives the receiver from the start.
  view->setFocus();
  if (!options.screenshot.empty()) WatchForScreenshot();
  return true;
}

void CButtonTestApp::WatchForScreenshot() {
  sinceStart.start();
  QObject::connect(GetMainView(), &CButtonTestView::PanelChanged, mainFrame.get(),
                   [this] { CheckScreenshot(); });
  screenshotDeadline.setSingleShot(true);
  QObject::connect(&screenshotDeadline, &QTimer::timeout, [this] { OnScreenshotDeadline(); });
  screenshotDeadline.start(kScreenshotFallbackMs);
  CheckScreenshot();
}

void CButtonTestApp::CheckScreenshot() {
  if (screenshotScheduled) return;
  const CConnectionControl& control = GetMainView()->Control();
  if (control.State() != kConnected || !control.DisplaySeen()) return;
  screenshotScheduled = true;
  screenshotDeadline.start(kScreenshotSettleMs);
}

void CButtonTestApp::OnScreenshotDeadline() {
  const int state = GetMainView()->Control().State();
  const bool underWay = state == kOpening || state == kWaiting;
  // A connection under way decides soon (the link reports up or down on its own); wait for it.
  if (!screenshotScheduled && underWay && sinceStart.elapsed() < kScreenshotLimitMs) {
    screenshotDeadline.start(250);
    return;
  }
  TakeScreenshot();
}

void CButtonTestApp::TakeScreenshot() {
  if (screenshotTaken) return;
  screenshotTaken = true;
  const QPixmap picture = mainFrame->grab();
  const QString path = QString::fromStdString(options.screenshot.string());
  screenshotFailed = picture.isNull() || !picture.save(path, "PNG");
  if (screenshotFailed) WriteStderrLine("cannot write the screenshot " + path.toStdString());
  mainFrame->close();
  QCoreApplication::exit(screenshotFailed ? 1 : 0);
}
