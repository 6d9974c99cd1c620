#include "app/headless_playback.h"

#include <QCoreApplication>
#include <QTimer>

#include "app/playback_session.h"
#include "app/signal_watcher.h"
#include "app/stderr_lines.h"
#include "app/stderr_prompts.h"
#include "app/terminal_text.h"
#include "app/web_panel_bridge.h"

CHeadlessPlayback::CHeadlessPlayback(PlaybackRunOptions runOptions, int instance, std::FILE* output)
    : options(std::move(runOptions)),
      instanceNumber(instance),
      out(output),
      prompts(std::make_unique<CStderrPrompts>()) {}

CHeadlessPlayback::~CHeadlessPlayback() {
  if (web && session) web->Unsubscribe(session->Control());
  web.reset();
  session.reset();
}

int CHeadlessPlayback::Run() {
  CPlaybackSession::Callbacks callbacks;
  callbacks.progress = [this] { Progress(); };
  // After the last packet has been handled, not from inside the player.
  callbacks.finished = [this] { QTimer::singleShot(0, this, [this] { Stop(0); }); };
  session = std::make_unique<CPlaybackSession>(*prompts, std::move(callbacks));
  session->Control().SubscribePanel(this);
  session->Control().SubscribeLogLines(this);
  std::string error;
  if (!session->Start(instanceNumber, options.file, options.speed, error)) {
    WriteStderrLine(error);
    return 1;
  }
  signalWatcher = std::make_unique<CSignalWatcher>([this](int) { Stop(0); });
  if (options.webPanel) {
    web = StartHeadlessWebPanel(
        options.webPanelConfig,
        {[this] { return session ? &session->Control() : nullptr; }, [] { return true; }, {}});
    if (!web) return 1;
    web->Subscribe(session->Control());
    web->PanelChanged();
  }
  return QCoreApplication::exec();
}

void CHeadlessPlayback::Stop(int exitCode) {
  if (stopping) return;
  stopping = true;
  if (web) web->Stop();
  if (session) session->Stop();
  std::fflush(out);
  QCoreApplication::exit(exitCode);
}

void CHeadlessPlayback::Progress() {
  if (!options.printLog || !session) return;
  const CRawLogPlayer& player = session->Player();
  if (player.PlayedGpsMs() == printedGpsMs) return;
  printedGpsMs = player.PlayedGpsMs();
  std::fprintf(out, "gps: %s\n", CRawLogPlayer::FormatGpsTime(printedGpsMs, player.UtcOffset()).c_str());
  std::fflush(out);
}

void CHeadlessPlayback::TitleChanged(const std::string& title) {
  if (!options.printLog || title == printedTitle) return;
  printedTitle = title;
  std::fprintf(out, "title: %s\n", title.c_str());
  std::fflush(out);
}

void CHeadlessPlayback::PanelRedraw(int) {
  if (!options.printLog || !session || session->Control().State() != kConnected) return;
  bool printed = false;
  for (int row = 0; row < CLcdModel::kRows; ++row) {
    const std::string text = PrintableLcdRow(session->Control().Lcd().lines[row]);
    if (text == printedRows[row]) continue;
    printedRows[row] = text;
    std::fprintf(out, "lcd %d: |%s|\n", row, text.c_str());
    printed = true;
  }
  if (printed) std::fflush(out);
}

void CHeadlessPlayback::OnLogViewerLine(const std::string& line) {
  if (!options.printLog) return;
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}
