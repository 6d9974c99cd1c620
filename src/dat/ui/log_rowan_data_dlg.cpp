#include "dat/ui/log_rowan_data_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>
#include <string>

#include "dat/ui/sort_list_ctrl.h"
#include "link/protocol/settings_store.h"

namespace {

constexpr char kSection[] = "LogRowanFilter";
constexpr char kStateKey[] = "State";
constexpr char kFilterKey[] = "Filter";
constexpr char kDefaultCodes[] = "PQX";
constexpr std::size_t kSettingBuffer = 255;

}  // namespace

bool LogLinePassesFilter(const std::string& line, int filterState, const std::string& codes) {
  if (filterState == 0) return true;
  const bool found = !line.empty() && codes.find(line[0]) != std::string::npos;
  return filterState == 1 ? found : !found;
}

std::string CleanLogViewerLine(const std::string& text) {
  std::string line;
  line.reserve(text.size() + 8);
  for (const char c : text) {
    if (c == '\n' || c == '\r') continue;
    if (c == '\t')
      line += "    ";
    else
      line.push_back(c);
  }
  return line;
}

LogRowanDataDlg::LogRowanDataDlg(ISettingsStore* settings, QWidget* parent)
    : QDialog(parent), profile(settings) {
  setWindowTitle(QStringLiteral("LogRowan Data"));
  setModal(false);

  list = new CSortListCtrl(this);
  list->SetHeadings(QStringLiteral("LogRowan Data,0"));

  pauseBox = new QCheckBox(QStringLiteral("Pause"), this);
  followBox = new QCheckBox(QStringLiteral("Always show newest line"), this);
  followBox->setChecked(true);

  auto* filterGroup = new QGroupBox(QStringLiteral("Filter Messages"), this);
  filterCombo = new QComboBox(filterGroup);
  filterCombo->addItems({QStringLiteral("Off"), QStringLiteral("Show"), QStringLiteral("Hide")});
  filterEdit = new QLineEdit(filterGroup);
  auto* filterLayout = new QHBoxLayout(filterGroup);
  filterLayout->addWidget(filterCombo);
  filterLayout->addWidget(filterEdit);

  auto* eventGroup = new QGroupBox(QStringLiteral("Add Event Text to the Log File"), this);
  auto* eventLayout = new QGridLayout(eventGroup);
  for (int i = 0; i < 4; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    eventButtons[slot] = new QPushButton(QStringLiteral("Event &%1").arg(i + 1), eventGroup);
    eventButtons[slot]->setAutoDefault(false);
    eventEdits[slot] = new QLineEdit(QStringLiteral("Event %1").arg(i + 1), eventGroup);
    eventLayout->addWidget(eventButtons[slot], i, 0);
    eventLayout->addWidget(eventEdits[slot], i, 1);
    connect(eventButtons[slot], &QPushButton::clicked, this, [this, slot] {
      // The edit's text as it is at the press.
      eventTexts[slot] = eventEdits[slot]->text();
      eventFlags[slot] = true;
    });
  }

  auto* checks = new QHBoxLayout;
  checks->addWidget(pauseBox);
  checks->addWidget(followBox);
  checks->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list, 1);
  layout->addLayout(checks);
  layout->addWidget(filterGroup);
  layout->addWidget(eventGroup);
  resize(640, 520);

  if (profile != nullptr) {
    filterState = std::atoi(profile->GetString(kSection, kStateKey, "0", kSettingBuffer).c_str());
    filterCodes =
        QString::fromStdString(profile->GetString(kSection, kFilterKey, kDefaultCodes, kSettingBuffer));
  }
  if (filterState < 0 || filterState > 2) filterState = 0;
  codesUtf8 = filterCodes.toStdString();
  filterCombo->setCurrentIndex(filterState);
  filterEdit->setText(filterCodes);
  filterEdit->setEnabled(filterState != 0);

  connect(filterCombo, &QComboBox::activated, this, &LogRowanDataDlg::OnFilterSelected);
  connect(filterEdit, &QLineEdit::textEdited, this, &LogRowanDataDlg::OnFilterEdited);
  connect(pauseBox, &QCheckBox::toggled, this, [this](bool on) { paused = on; });
  connect(followBox, &QCheckBox::toggled, this, [this](bool on) { followNewest = on; });
}

LogRowanDataDlg::~LogRowanDataDlg() = default;

int LogRowanDataDlg::LineCount() const {
  return list->GetItemCount();
}

void LogRowanDataDlg::AddLine(const std::string& text) {
  const std::string line = CleanLogViewerLine(text);
  if (!LogLinePassesFilter(line, filterState, codesUtf8)) return;
  if (paused) return;
  list->setUpdatesEnabled(false);
  const QStringList texts{QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()))};
  // A full list drops its oldest line as it takes the new one, at the cost of adding to a short list.
  const int row = list->GetItemCount() >= kMaxLines ? list->DropFirstAndAdd(texts) : list->AddItem(texts);
  if (followNewest) list->scrollTo(list->model()->index(row, 0));
  list->setUpdatesEnabled(true);
}

std::optional<std::string> LogRowanDataDlg::TakeEvent(int slot) {
  if (slot < 0 || slot >= 4) return std::nullopt;
  const auto i = static_cast<std::size_t>(slot);
  if (!eventFlags[i]) return std::nullopt;
  eventFlags[i] = false;
  return eventTexts[i].toStdString();
}

void LogRowanDataDlg::SetCaption(const QString& caption) {
  setWindowTitle(caption);
}

void LogRowanDataDlg::OnFilterSelected(int index) {
  filterState = index < 0 || index > 2 ? 0 : index;
  if (profile != nullptr) profile->WriteString(kSection, kStateKey, std::to_string(filterState));
  filterEdit->setEnabled(filterState != 0);
}

void LogRowanDataDlg::OnFilterEdited(const QString& text) {
  filterCodes = text;
  codesUtf8 = text.toStdString();
  if (profile != nullptr) profile->WriteString(kSection, kFilterKey, codesUtf8);
}

int LogRowanDataDlg::EventKey(int key) {
  switch (key) {
    case Qt::Key_F1:
      return 0;
    case Qt::Key_F2:
      return 1;
    case Qt::Key_F3:
      return 2;
    case Qt::Key_F4:
      return 3;
    default:
      return -1;
  }
}

// F1-F4 only show their button pressed while held; they trigger nothing. Keys come to the window
// itself, not to the dialog's navigation: Esc is the receiver's.
void LogRowanDataDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (panelKeys) panelKeys(event);
    event->accept();
    return;
  }
  const int slot = EventKey(event->key());
  if (slot < 0) {
    QDialog::keyPressEvent(event);
    return;
  }
  eventButtons[static_cast<std::size_t>(slot)]->setDown(true);
  event->accept();
}

void LogRowanDataDlg::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (panelKeys) panelKeys(event);
    event->accept();
    return;
  }
  const int slot = EventKey(event->key());
  if (slot < 0) {
    QDialog::keyReleaseEvent(event);
    return;
  }
  if (!event->isAutoRepeat()) eventButtons[static_cast<std::size_t>(slot)]->setDown(false);
  event->accept();
}
