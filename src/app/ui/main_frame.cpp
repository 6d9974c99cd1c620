#include "app/ui/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QToolBar>

#include "app/playback_session.h"
#include "app/ui/about_dlg.h"
#include "app/ui/button_test_view.h"

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  // No maximize button; with the fixed size constraint below there is nothing to drag either.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  // The starting size until the view is set and the window fits to it.
  resize(432, 236);

  fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* connect = AddCommand(kIdFileConnect, QStringLiteral("&Connect...\tAlt+C"));
  connect->setShortcut(QKeySequence(Qt::ALT | Qt::Key_C));
  connect->setStatusTip(QStringLiteral("Open the serial port and begin communication with the receiver."));
  QAction* disconnect = AddCommand(kIdFileDisconnect, QStringLiteral("&Disconnect\tAlt+D"));
  disconnect->setShortcut(QKeySequence(Qt::ALT | Qt::Key_D));
  disconnect->setStatusTip(QStringLiteral("Close the serial port."));
  QAction* play = AddCommand(kIdFilePlayRawLog, QStringLiteral("&Play Raw Log..."));
  play->setStatusTip(QStringLiteral("Play a raw packet log (.kavo) on the panel instead of a receiver."));
  QAction* web = AddCommand(kIdFileWebPanel, QStringLiteral("&Web Panel..."));
  web->setStatusTip(QStringLiteral("The receiver's panel in a web browser: its addresses and a QR code."));
  fileMenu->addSeparator();
  AddCommand(kIdClearBbRam, QStringLiteral("Clear &BB Ram..."));
  fileMenu->addSeparator();
  QAction* exit = AddCommand(kIdAppExit, QStringLiteral("E&xit"));
  QObject::connect(exit, &QAction::triggered, this, &QWidget::close);
  QObject::connect(fileMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);

  helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* about = helpMenu->addAction(QStringLiteral("&About Plowview..."));
  about->setData(kIdAppAbout);
  about->setStatusTip(QStringLiteral("Display program information, version number and copyright."));
  commands[kIdAppAbout] = about;
  QObject::connect(about, &QAction::triggered, this, &CMainFrame::OnAppAbout);

  playbackBar = new QToolBar(QStringLiteral("Playback"), this);
  playbackBar->setMovable(false);
  playbackBar->setFloatable(false);
  playbackSlider = new QSlider(Qt::Horizontal, playbackBar);
  playbackSlider->setRange(0, 1000);
  playbackSlider->setFocusPolicy(Qt::NoFocus);
  playbackSlider->setToolTip(QStringLiteral("Position in the raw log; Space pauses, Right steps one second"));
  playbackBar->addWidget(playbackSlider);
  addToolBar(Qt::BottomToolBarArea, playbackBar);
  playbackBar->hide();
}

void CMainFrame::OnAppAbout() {
  // The problem-report host comes from the view's settings file; without a view, the default.
  CAboutDlg::RunAbout(view ? &view->Settings().Profile() : nullptr, this);
}

QAction* CMainFrame::AddCommand(int commandId, const QString& text) {
  QAction* action = fileMenu->addAction(text);
  action->setData(commandId);
  commands[commandId] = action;
  return action;
}

void CMainFrame::SetView(CButtonTestView* newView) {
  view = newView;
  setCentralWidget(view);
  QObject::connect(commands[kIdFileConnect], &QAction::triggered, view, &CButtonTestView::OnFileConnect);
  QObject::connect(commands[kIdFileDisconnect], &QAction::triggered, view,
                   &CButtonTestView::OnFileDisconnect);
  QObject::connect(commands[kIdClearBbRam], &QAction::triggered, view, &CButtonTestView::OnClearBbRam);
  QObject::connect(view, &CButtonTestView::CommandStatesChanged, this, &CMainFrame::UpdateCommandUi);
  QObject::connect(commands[kIdFilePlayRawLog], &QAction::triggered, view,
                   &CButtonTestView::OnFilePlayRawLog);
  QObject::connect(view, &CButtonTestView::PlaybackChanged, this, &CMainFrame::UpdatePlaybackBar);
  QObject::connect(commands[kIdFileWebPanel], &QAction::triggered, view, &CButtonTestView::OnWebPanel);
  QObject::connect(playbackSlider, &QSlider::sliderReleased, this, [this] {
    if (this->view) this->view->OnPlaybackSeek(playbackSlider->value() / 1000.0);
  });
  // The window's size follows its contents: the view's fixed size plus the menu bar.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  UpdateCommandUi();
}

QAction* CMainFrame::CommandAction(int commandId) const {
  const auto it = commands.find(commandId);
  return it == commands.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandUi() {
  if (!view) return;
  for (const auto& [id, action] : commands)
    if (id != kIdAppExit && id != kIdAppAbout) action->setEnabled(view->IsCommandEnabled(id));
}

void CMainFrame::UpdatePlaybackBar() {
  const bool playing = view && view->Playing();
  playbackBar->setVisible(playing);
  if (playing && !playbackSlider->isSliderDown())
    playbackSlider->setValue(static_cast<int>(view->Playback()->Player().Fraction() * 1000.0));
  UpdateCommandUi();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (view) view->OnDestroy();
  QMainWindow::closeEvent(event);
}
