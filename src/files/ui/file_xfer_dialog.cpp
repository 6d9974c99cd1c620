#include "files/ui/file_xfer_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString IdName(int id) {
  return QStringLiteral("c%1").arg(id);
}

int Percent(std::uint32_t received, std::uint32_t size) {
  if (size == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>(100, static_cast<std::uint64_t>(received) * 100 / size));
}

}  // namespace

CFileXferDialog::CFileXferDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CFileXferDialog"));
  setModal(false);

  engine = std::make_unique<CFileXferEngine>([this] { return isConnected && send && isConnected(); },
                                             [this](const KavoPacket& request) {
                                               if (send) send(request, 1);
                                             });
  setWindowTitle(QString::fromLatin1(engine->WindowTitle()));

  auto* listing = new QGroupBox(QStringLiteral("File Listing"));
  list = new QListWidget;
  list->setObjectName(IdName(kListId));
  list->setSelectionMode(QAbstractItemView::MultiSelection);
  list->setMinimumSize(320, 280);
  auto* listingLayout = new QVBoxLayout(listing);
  listingLayout->addWidget(list);

  progressGroup = new QGroupBox(QStringLiteral("Progress"));
  progressText = new QLabel;
  progressText->setMinimumWidth(220);
  fileBar = new QProgressBar;
  fileBar->setRange(0, 100);
  batchText = new QLabel;
  batchBar = new QProgressBar;
  batchBar->setRange(0, 1);
  batchBar->setFormat(QStringLiteral("%v of %m done"));
  auto* progressLayout = new QVBoxLayout(progressGroup);
  progressLayout->addWidget(progressText);
  progressLayout->addWidget(fileBar);
  progressLayout->addWidget(batchText);
  progressLayout->addWidget(batchBar);

  auto makeButton = [](int id, const QString& caption) {
    auto* button = new QPushButton(caption);
    button->setObjectName(IdName(id));
    button->setAutoDefault(false);
    return button;
  };
  refreshButton = makeButton(kRefreshId, QStringLiteral("Refresh"));
  getButton = makeButton(kGetId, QStringLiteral("Get Selected Files"));
  deleteButton = makeButton(kDeleteId, QStringLiteral("Delete Selected Files"));
  deleteWhenDone = new QCheckBox(QStringLiteral("Delete files when done downloading"));
  deleteWhenDone->setObjectName(IdName(kDeleteWhenDoneId));
  deleteWhenDone->setChecked(engine->DeleteWhenDone());
  button1 = makeButton(kButton1Id, QString::fromLatin1(engine->Button1Caption()));

  auto* side = new QVBoxLayout;
  side->addWidget(progressGroup);
  side->addWidget(refreshButton);
  side->addWidget(getButton);
  side->addWidget(deleteButton);
  side->addWidget(deleteWhenDone);
  side->addStretch(1);
  side->addWidget(button1);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(listing, 1);
  layout->addLayout(side);

  connect(refreshButton, &QPushButton::clicked, this, [this] { engine->Refresh(); });
  connect(getButton, &QPushButton::clicked, this, [this] {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) return;
    batchTotal = 0;
    engine->GetFiles(rows);
    batchTotal = engine->Progress().size();
    SyncProgress();
  });
  connect(deleteButton, &QPushButton::clicked, this, [this] {
    const std::vector<int> rows = SelectedRows();
    if (!rows.empty()) engine->DeleteFiles(rows);
  });
  connect(deleteWhenDone, &QCheckBox::toggled, this, [this](bool on) { engine->SetDeleteWhenDone(on); });
  connect(button1, &QPushButton::clicked, this, &CFileXferDialog::OnButton1);

  watchdog.setInterval(CFileXferEngine::kTickMs);
  watchdog.setTimerType(Qt::PreciseTimer);
  connect(&watchdog, &QTimer::timeout, this, [this] { engine->Tick(); });

  engine->SetChangedCallback([this] { Sync(); });
  Sync();
}

CFileXferDialog::~CFileXferDialog() {
  engine->SetChangedCallback({});
}

void CFileXferDialog::SetLink(IsConnectedFn isConnected, SendFn send) {
  this->isConnected = std::move(isConnected);
  this->send = std::move(send);
}

void CFileXferDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  UpdateWatchdog();
  if (!shownOnce) {
    shownOnce = true;
    engine->Refresh();
  }
}

void CFileXferDialog::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  UpdateWatchdog();
}

void CFileXferDialog::UpdateWatchdog() {
  const bool wanted = isVisible() || engine->IsBusy();
  if (wanted && !watchdog.isActive())
    watchdog.start();
  else if (!wanted && watchdog.isActive())
    watchdog.stop();
}

std::vector<int> CFileXferDialog::SelectedRows() const {
  std::vector<int> rows;
  for (int row = 0; row < list->count(); ++row)
    if (list->item(row)->isSelected()) rows.push_back(row);
  return rows;
}

void CFileXferDialog::OnButton1() {
  if (!engine->IsBusy()) {
    close();
    return;
  }
  batchTotal = 0;
  engine->Cancel();
}

void CFileXferDialog::Sync() {
  SyncList();
  const bool enabled = engine->ControlsEnabled();
  list->setEnabled(enabled);
  refreshButton->setEnabled(enabled);
  getButton->setEnabled(enabled);
  deleteButton->setEnabled(enabled);
  button1->setText(QString::fromLatin1(engine->Button1Caption()));
  setWindowTitle(QString::fromLatin1(engine->WindowTitle()));
  SyncProgress();
  UpdateWatchdog();
}

void CFileXferDialog::SyncList() {
  const std::vector<std::string>& entries = engine->Entries();
  // Same number of entries: a status changed, so edit the texts in place and keep the selection.
  if (static_cast<std::size_t>(list->count()) == entries.size()) {
    for (int row = 0; row < list->count(); ++row) {
      const QString text = QString::fromStdString(entries[row]);
      if (list->item(row)->text() != text) list->item(row)->setText(text);
    }
    return;
  }
  list->clear();
  for (const std::string& entry : entries) list->addItem(QString::fromStdString(entry));
}

void CFileXferDialog::SyncProgress() {
  const std::vector<FileXferProgress> jobs = engine->Progress();
  const FileXferProgress* current = nullptr;
  std::size_t active = 0;
  for (const FileXferProgress& job : jobs) {
    if (job.state >= XferState::FileOpenFailed) continue;
    ++active;
    if (current == nullptr) current = &job;
  }
  if (batchTotal == 0) {
    progressText->setText(QStringLiteral("No download running"));
    fileBar->setValue(0);
    batchText->setText(QString());
    batchBar->setRange(0, 1);
    batchBar->setValue(0);
    return;
  }
  const std::size_t finished = batchTotal - std::min(active, batchTotal);
  batchBar->setRange(0, static_cast<int>(batchTotal));
  batchBar->setValue(static_cast<int>(finished));
  if (current == nullptr) {
    progressText->setText(QStringLiteral("All downloads finished"));
    fileBar->setValue(100);
    batchText->setText(QStringLiteral("%1 of %2 files").arg(finished).arg(batchTotal));
    return;
  }
  progressText->setText(QStringLiteral("%1: %2").arg(
      QString::fromStdString(current->name),
      QString::fromStdString(CFileXferJob::StatusText(current->state, current->received, current->size))));
  fileBar->setValue(Percent(current->received, current->size));
  batchText->setText(QStringLiteral("File %1 of %2").arg(finished + 1).arg(batchTotal));
}
