#include "app/ui/spa_dlg.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <bit>
#include <cmath>

#include "link/protocol/kavo_ids.h"

namespace {

constexpr const char* kEmptySlotText = "------------";
constexpr std::size_t kNameBytes = 3;  // a zero-terminated name of at most two characters
constexpr std::size_t kNameChars = 2;
constexpr std::size_t kUsageBytes = 8;  // percentage then seconds, two big-endian singles
constexpr std::size_t kChecksumBytes = 2;

QString IdName(int id) {
  return QStringLiteral("c%1").arg(id);
}

float ReadBeFloat(const std::uint8_t* p) {
  return std::bit_cast<float>(ReadBe32(p));
}

double ReadBeDouble(const std::uint8_t* p) {
  const std::uint64_t bits = (static_cast<std::uint64_t>(ReadBe32(p)) << 32) | ReadBe32(p + 4);
  return std::bit_cast<double>(bits);
}

// The bar position of a percentage: truncated toward zero, within the bar's range. A NaN or an
// out-of-range value from the receiver must not reach the integer conversion.
int BarPosition(float percent) {
  if (!(percent > 0.0f)) return 0;  // also NaN
  if (percent >= 100.0f) return 100;
  return static_cast<int>(percent);
}

}  // namespace

CSPADlg::CSPADlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CSPADlg"));
  setWindowTitle(QStringLiteral("S.P.A."));
  setModal(false);

  auto* control = new QGroupBox(QStringLiteral("S.P.A. Control"));
  auto* restart = new QPushButton(QStringLiteral("Restart"));
  restart->setObjectName(IdName(kRestartId));
  auto* request = new QPushButton(QStringLiteral("Request"));
  request->setObjectName(IdName(kRequestButtonId));
  restart->setAutoDefault(false);
  request->setAutoDefault(false);
  auto* controlLayout = new QHBoxLayout(control);
  controlLayout->addWidget(restart);
  controlLayout->addWidget(request);
  connect(restart, &QPushButton::clicked, this, [this] { SendRequest(kActionRestart); });
  connect(request, &QPushButton::clicked, this, [this] { SendRequest(kActionRequest); });

  auto* durationGroup = new QGroupBox(QStringLiteral("S.P.A. Duration"));
  duration = new QLabel(QStringLiteral("--:--s"));
  duration->setObjectName(IdName(kDurationTextId));
  auto* durationLayout = new QHBoxLayout(durationGroup);
  durationLayout->addWidget(duration);

  auto* top = new QHBoxLayout;
  top->addWidget(control);
  top->addWidget(durationGroup, 1);

  auto* usage = new QGroupBox(QStringLiteral("uProc usage by task"));
  auto* grid = new QGridLayout(usage);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  for (int slot = 0; slot < kSlots; ++slot) {
    auto* text = new QLabel(QString::fromLatin1(kEmptySlotText));
    text->setObjectName(IdName(SlotTextId(slot)));
    auto* bar = new QProgressBar;
    bar->setObjectName(IdName(SlotBarId(slot)));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedSize(80, 12);
    texts[slot] = text;
    bars[slot] = bar;
    // Column-major, so slot order reads down each column.
    const int row = slot % kSlotRows;
    const int column = slot / kSlotRows;
    grid->addWidget(text, row, column * 2);
    grid->addWidget(bar, row, column * 2 + 1);
  }
  SetListFont(DefaultListFont());

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(usage);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QFont CSPADlg::DefaultListFont() {
  QFont font(QStringLiteral("Lucida Console"), 8);
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  return font;
}

void CSPADlg::SetListFont(const QFont& font) {
  // Wide enough for the longest usual line, "AB 12345.6s / 100.0%", so columns do not jump.
  const int width = QFontMetrics(font).horizontalAdvance(QStringLiteral("AB 12345.6s / 100.0%")) + 4;
  for (QLabel* text : texts) {
    text->setFont(font);
    text->setMinimumWidth(width);
  }
}

KavoPacket CSPADlg::BuildRequest(std::uint8_t action) {
  KavoPacket packet;
  packet.id = kavo::kIdSuperRequest;
  packet.length = 3;
  packet.data[0] = kavo::kSubSystem;
  packet.data[1] = kavo::kSystemProcessorUsage;
  packet.data[2] = action;
  return packet;
}

bool CSPADlg::SendRequest(std::uint8_t action) {
  if (!send) return false;
  return send(BuildRequest(action), 1);
}

bool CSPADlg::OnReport(const KavoPacket& packet) {
  if (packet.id != kavo::kIdSuperReport || !packet.checksumOk) return false;
  const std::size_t length = std::min<std::size_t>(packet.length, kKavoMaxData);
  if (length < 3 + kChecksumBytes) return false;
  if (packet.data[0] != kavo::kSubSystem || packet.data[1] != kavo::kSystemProcessorUsage) return false;
  // The trailer is no part of the report.
  const std::size_t end = length - kChecksumBytes;
  switch (packet.data[2]) {
    case kNameReport:
      OnNameReport(packet.data, end);
      return true;
    case kUsageReport:
      OnUsageReport(packet.data, end);
      return true;
    default:
      return false;
  }
}

void CSPADlg::OnNameReport(const std::uint8_t* data, std::size_t end) {
  if (end < 4) return;
  available = true;
  const std::size_t count = data[3];
  for (std::size_t i = 0; i < static_cast<std::size_t>(kSlots); ++i) {
    // A later report with more tasks shows slots an earlier one hid.
    texts[i]->setVisible(i < count);
    bars[i]->setVisible(i < count);
    if (i >= count) continue;
    const std::size_t at = 4 + i * kNameBytes;
    std::string name;
    // A name cut off by the end of the report keeps what arrived; one missing entirely is empty.
    for (std::size_t k = 0; k < kNameChars && at + k < end && data[at + k] != 0; ++k)
      name.push_back(static_cast<char>(data[at + k]));
    taskNames[i] = std::move(name);
  }
}

void CSPADlg::OnUsageReport(const std::uint8_t* data, std::size_t end) {
  if (end < 11) return;
  duration->setText(QString::asprintf("%7.2fs", ReadBeDouble(data + 3)));
  if (end < 12) return;
  const std::size_t count = data[11];
  for (std::size_t i = 0; i < count && i < static_cast<std::size_t>(kSlots); ++i) {
    const std::size_t at = 12 + i * kUsageBytes;
    if (at + kUsageBytes > end) break;
    const float percent = ReadBeFloat(data + at);
    const float seconds = ReadBeFloat(data + at + 4);
    texts[i]->setText(QString::asprintf("%s %7.1fs / %4.1f%%", taskNames[i].c_str(),
                                        static_cast<double>(seconds), static_cast<double>(percent)));
    bars[i]->setValue(BarPosition(percent));
  }
}

QLabel* CSPADlg::SlotText(int slot) const {
  return slot >= 0 && slot < kSlots ? texts[slot] : nullptr;
}

QProgressBar* CSPADlg::SlotBar(int slot) const {
  return slot >= 0 && slot < kSlots ? bars[slot] : nullptr;
}

QString CSPADlg::DurationText() const {
  return duration->text();
}

const std::string& CSPADlg::TaskName(int slot) const {
  static const std::string kNone;
  return slot >= 0 && slot < kSlots ? taskNames[slot] : kNone;
}
