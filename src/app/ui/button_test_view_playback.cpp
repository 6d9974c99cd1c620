// The view's playback half: a raw packet log shown on the panel in place of the connection.

#include <QFileDialog>
#include <QKeyEvent>

#include "app/connection.h"
#include "app/connection_control.h"
#include "app/playback_session.h"
#include "app/ui/button_test_doc.h"
#include "app/ui/button_test_view.h"
#include "app/ui/panel_key_button.h"
#include "app/web_panel_bridge.h"

bool CButtonTestView::StartPlayback(const std::string& path, double speed) {
  if (destroyed || playback || control->State() != kDisconnected) return false;
  CPlaybackSession::Callbacks callbacks;
  callbacks.progress = [this] {
    ShowPlaybackTitle();
    emit PlaybackChanged();
  };
  callbacks.finished = callbacks.progress;
  playback = std::make_unique<CPlaybackSession>(*services.prompts, std::move(callbacks));
  SubscribeTo(playback->Control());
  if (web) web->Subscribe(playback->Control());
  control = &playback->Control();
  if (document) document->SetLcdModel(&control->Lcd());
  SetKeysEnabled(false);
  std::string error;
  if (!playback->Start(instanceNumber, path, speed, error)) {
    StopPlayback();
    services.prompts->MessageBox("Could not play the raw log:\n" + error, kProgramName,
                                 PromptIcon::Exclamation);
    return false;
  }
  emit CommandStatesChanged();
  emit PlaybackChanged();
  if (web) web->PanelChanged();
  update();
  return true;
}

void CButtonTestView::StopPlayback() {
  if (!playback) return;
  playback->Stop();
  if (web) web->Unsubscribe(playback->Control());
  control = &connection->Control();
  if (document) document->SetLcdModel(&control->Lcd());
  playback.reset();
  SetKeysEnabled(true);
  if (!destroyed) {
    // Back to the connection's own title.
    control->InitialUpdate(instanceNumber);
    emit CommandStatesChanged();
    emit PlaybackChanged();
  }
  if (web) web->PanelChanged();
  update();
}

void CButtonTestView::OnFilePlayRawLog() {
  if (destroyed || playback || control->State() != kDisconnected) return;
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("Play Raw Log"), QString::fromStdString(settings.loggingFolder),
      QStringLiteral("Raw packet logs (*.kavo);;All files (*)"));
  if (file.isEmpty()) return;
  StartPlayback(file.toStdString(), 1.0);
  setFocus();
}

void CButtonTestView::OnPlaybackSeek(double fraction) {
  if (playback) playback->Player().SeekFraction(fraction);
  setFocus();
}

bool CButtonTestView::PlaybackKey(QKeyEvent* event) {
  if (!playback) return false;
  switch (event->key()) {
    case Qt::Key_Space:
      if (!event->isAutoRepeat()) playback->Player().TogglePause();
      return true;
    case Qt::Key_Right:
      playback->Player().StepSecond();
      return true;
    default:
      // The receiver's keys do nothing while a recording plays; other keys keep their meaning.
      return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Up ||
             event->key() == Qt::Key_Down || event->key() == Qt::Key_Left || event->key() == Qt::Key_Escape ||
             event->key() == Qt::Key_Tab || (event->key() >= Qt::Key_F1 && event->key() <= Qt::Key_F6);
  }
}

QString CButtonTestView::PlaybackTitleSuffix() const {
  if (!playback) return {};
  return QStringLiteral("  -  ") + QString::fromStdString(playback->StatusText());
}

void CButtonTestView::ShowPlaybackTitle() {
  if (playback) ShowTitle(control->MainTitle());
}

void CButtonTestView::SetKeysEnabled(bool enabled) {
  // Enter stays disabled: the view takes the mouse presses over it itself.
  for (CPanelKeyButton* key : keys)
    if (key != nullptr && key != enterButton) key->setEnabled(enabled);
}
