#include "app/ui/test_cmd_dlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ui/link_not_available_dlg.h"
#include "link/protocol/kavo_ids.h"

namespace {

// Sub-command groups of the display test commands (after their sub-identifier).
constexpr std::uint8_t kVideoGroup = 0x18;  // video window, TSC, gamma; product id in hex
constexpr std::uint8_t kTouchGroup = 0x19;  // touchscreen filter, beeper; product id in decimal
constexpr std::uint8_t kVideoShow = 0x01;
constexpr std::uint8_t kVideoHide = 0x02;
constexpr std::uint8_t kTouchFilter = 0x01;
constexpr std::uint8_t kBeep = 0x03;
constexpr std::uint8_t kReprogram = 0x06;   // TSC reprogram and the gamma option share it
constexpr std::uint8_t kRandomSize = 0x04;  // the random window always uses the fourth size

QString IdName(int id) {
  return QStringLiteral("c%1").arg(id);
}

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

bool IsBlank(QChar c) {
  const char16_t u = c.unicode();
  return u == ' ' || (u >= '\t' && u <= '\r');
}

std::uint8_t Hi(std::uint16_t v) {
  return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t Lo(std::uint16_t v) {
  return static_cast<std::uint8_t>(v);
}

}  // namespace

CTestCmdDlg::CTestCmdDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CTestCmdDlg"));
  setWindowTitle(QStringLiteral("Command Panel"));
  setModal(false);

  // Freeform packet and the product id every ready-made command carries.
  auto* freeform = new QGridLayout;
  freeform->addWidget(new QLabel(QStringLiteral("id")), 0, 0);
  freeform->addWidget(AddField(kIdField), 0, 1);
  freeform->addWidget(new QLabel(QStringLiteral("len")), 0, 2);
  freeform->addWidget(AddField(kLenField), 0, 3);
  freeform->addWidget(AddButton(kFreeformButton, QStringLiteral("Button1"), &CTestCmdDlg::OnFreeform), 0, 4);
  freeform->addWidget(new QLabel(QStringLiteral("d0")), 1, 0);
  QLineEdit* d0 = AddField(kD0Field);
  d0->setMaximumWidth(QWIDGETSIZE_MAX);
  d0->setMinimumWidth(360);
  freeform->addWidget(d0, 1, 1, 1, 4);
  freeform->addWidget(new QLabel(QStringLiteral("product ID")), 2, 0);
  freeform->addWidget(AddField(kProductIdField, QStringLiteral("6")), 2, 1);
  freeform->setColumnStretch(1, 1);
  freeform->setColumnStretch(3, 1);

  auto* video = new QGroupBox(QStringLiteral("Video Input Window Control"));
  auto* videoFields = new QFormLayout;
  videoFields->addRow(QStringLiteral("X"), AddField(kXField));
  videoFields->addRow(QStringLiteral("Y"), AddField(kYField));
  videoFields->addRow(QStringLiteral("chan"), AddField(kChanField));
  videoFields->addRow(QStringLiteral("flip"), AddField(kFlipField));
  sizeList = new QListWidget;
  sizeList->setObjectName(IdName(kSizeList));
  sizeList->addItems({QStringLiteral("720x480"), QStringLiteral("540x360"), QStringLiteral("360x240"),
                      QStringLiteral("180x120"), QStringLiteral("90x60")});
  sizeList->setSelectionMode(QAbstractItemView::SingleSelection);
  sizeList->setFixedHeight(sizeList->sizeHintForRow(0) * 5 + 2 * sizeList->frameWidth() + 2);
  sizeList->setMaximumWidth(110);
  randomCheck = new QCheckBox(QStringLiteral("Random"));
  randomCheck->setObjectName(IdName(kRandomCheck));
  connect(randomCheck, &QCheckBox::toggled, this, &CTestCmdDlg::OnRandomToggled);
  auto* videoButtons = new QVBoxLayout;
  videoButtons->addWidget(AddButton(kVideoSendButton, QStringLiteral("Send"), &CTestCmdDlg::OnVideoSend));
  videoButtons->addWidget(
      AddButton(kHideVideoButton, QStringLiteral("Hide Video"), &CTestCmdDlg::OnHideVideo));
  videoButtons->addWidget(
      AddButton(kTscReprogramButton, QStringLiteral("TSC reprogram"), &CTestCmdDlg::OnTscReprogram));
  videoButtons->addWidget(randomCheck);
  videoButtons->addStretch(1);
  auto* videoLayout = new QHBoxLayout(video);
  videoLayout->addLayout(videoFields);
  videoLayout->addWidget(sizeList, 0, Qt::AlignTop);
  videoLayout->addLayout(videoButtons);

  auto* touch = new QGroupBox(QStringLiteral("Touchscreen Control"));
  auto* touchFields = new QFormLayout;
  touchFields->addRow(QStringLiteral("skip start"), AddField(kSkipStartField, QStringLiteral("4")));
  touchFields->addRow(QStringLiteral("skip stop"), AddField(kSkipStopField, QStringLiteral("4")));
  touchFields->addRow(QStringLiteral("num filt"), AddField(kNumFiltField, QStringLiteral("10")));
  touchFields->addRow(QStringLiteral("min delta"), AddField(kMinDeltaField, QStringLiteral("5")));
  touchFields->addRow(QStringLiteral("look back on up"), AddField(kLookBackField, QStringLiteral("0")));
  auto* beepFields = new QFormLayout;
  beepFields->addRow(QStringLiteral("beep duration (10ths)"),
                     AddField(kBeepDurationField, QStringLiteral("10")));
  beepFields->addRow(QStringLiteral("volume (0-100)"), AddField(kVolumeField, QStringLiteral("100")));
  auto* touchLayout = new QGridLayout(touch);
  touchLayout->addLayout(touchFields, 0, 0);
  touchLayout->addWidget(AddButton(kFilterButton, QStringLiteral("cmd filter"), &CTestCmdDlg::OnTouchFilter),
                         0, 1, Qt::AlignBottom);
  touchLayout->addLayout(beepFields, 1, 0);
  touchLayout->addWidget(AddButton(kBeepButton, QStringLiteral("Beep"), &CTestCmdDlg::OnBeep), 1, 1,
                         Qt::AlignBottom);

  auto* gamma = new QGroupBox(QStringLiteral("Gamma control"));
  auto* gammaLayout = new QHBoxLayout(gamma);
  gammaLayout->addWidget(new QLabel(QStringLiteral("Gamma Option:")));
  gammaLayout->addWidget(AddField(kGammaField));
  gammaLayout->addWidget(AddButton(kGammaButton, QStringLiteral("Set Gamma Option"), &CTestCmdDlg::OnGamma));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(freeform);
  layout->addWidget(video);
  layout->addWidget(touch);
  layout->addWidget(gamma);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  randomTimer.setInterval(kRandomPeriodMs);
  connect(&randomTimer, &QTimer::timeout, this, &CTestCmdDlg::OnRandomTick);
  random = [] { return static_cast<int>(QRandomGenerator::global()->bounded(kRandMax + 1)); };
  notAvailable = [this] {
    CLinkNotAvailableDlg box(this);
    box.exec();
  };
}

QLineEdit* CTestCmdDlg::AddField(int id, const QString& initial) {
  auto* field = new QLineEdit(initial);
  field->setObjectName(IdName(id));
  field->setMaximumWidth(90);  // numbers; "d0" widens itself
  fields[id] = field;
  return field;
}

QPushButton* CTestCmdDlg::AddButton(int id, const QString& caption, void (CTestCmdDlg::*handler)()) {
  auto* button = new QPushButton(caption);
  button->setObjectName(IdName(id));
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, handler);
  buttons[id] = button;
  return button;
}

QLineEdit* CTestCmdDlg::Field(int id) const {
  auto it = fields.find(id);
  return it == fields.end() ? nullptr : it->second;
}

QPushButton* CTestCmdDlg::Button(int id) const {
  auto it = buttons.find(id);
  return it == buttons.end() ? nullptr : it->second;
}

void CTestCmdDlg::SetLink(IsOpenFn isOpen, SendFn send) {
  this->isOpen = std::move(isOpen);
  this->send = std::move(send);
}

std::uint32_t CTestCmdDlg::ReadHex(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i + 2 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
      HexDigit(text[i + 2]) >= 0)
    i += 2;
  std::uint32_t value = 0;
  for (; i < n && HexDigit(text[i]) >= 0; ++i)
    value = (value << 4) | static_cast<std::uint32_t>(HexDigit(text[i]));
  return negative ? 0u - value : value;
}

std::int32_t CTestCmdDlg::ReadDecimal(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  // Unsigned arithmetic wraps where a signed overflow would be undefined.
  std::uint32_t value = 0;
  for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i)
    value = value * 10u + static_cast<std::uint32_t>(text[i].unicode() - u'0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

KavoPacket CTestCmdDlg::BuildFreeform(const QString& idText, const QString& d0Text, const QString& lenText) {
  KavoPacket packet;  // data area zero-filled
  packet.id = static_cast<std::uint8_t>(ReadHex(idText));
  const QString d0 = d0Text.left(kD0MaxChars);
  for (int pair = 0; pair < kD0MaxPairs && pair * 2 < d0.size(); ++pair)
    packet.data[pair] = static_cast<std::uint8_t>(ReadHex(d0.mid(pair * 2, 2)));
  const auto length = static_cast<std::uint16_t>(ReadDecimal(lenText));
  packet.length = static_cast<std::uint16_t>(std::min<std::size_t>(length, kKavoMaxData));
  return packet;
}

std::uint8_t CTestCmdDlg::Hex8(int id) const {
  return static_cast<std::uint8_t>(ReadHex(Field(id)->text()));
}

std::uint8_t CTestCmdDlg::Dec8(int id) const {
  return static_cast<std::uint8_t>(ReadDecimal(Field(id)->text()));
}

std::uint16_t CTestCmdDlg::Dec16(int id) const {
  return static_cast<std::uint16_t>(ReadDecimal(Field(id)->text()));
}

KavoPacket CTestCmdDlg::Command(std::uint8_t group, std::initializer_list<std::uint8_t> rest) {
  KavoPacket packet;
  packet.id = kavo::kIdSuperRequest;
  packet.data[0] = kavo::kSubDisplayTest;
  packet.data[1] = group;
  std::size_t n = 2;
  for (std::uint8_t b : rest) packet.data[n++] = b;
  packet.length = static_cast<std::uint16_t>(n);
  return packet;
}

bool CTestCmdDlg::LinkOpen() const {
  return isOpen && send && isOpen();
}

void CTestCmdDlg::SendFromButton(const KavoPacket& packet) {
  if (!LinkOpen()) {
    if (notAvailable) notAvailable();
    return;
  }
  send(packet, 1);
}

void CTestCmdDlg::OnFreeform() {
  SendFromButton(BuildFreeform(Field(kIdField)->text(), Field(kD0Field)->text(), Field(kLenField)->text()));
}

void CTestCmdDlg::OnVideoSend() {
  const std::uint16_t x = Dec16(kXField);
  const std::uint16_t y = Dec16(kYField);
  const QList<QListWidgetItem*> selected = sizeList->selectedItems();
  const int row = selected.isEmpty() ? -1 : sizeList->row(selected.front());
  const auto size = static_cast<std::uint8_t>(row + 1);
  SendFromButton(Command(kVideoGroup, {Hex8(kProductIdField), kVideoShow, Hi(x), Lo(x), Hi(y), Lo(y), size,
                                       Dec8(kChanField), Dec8(kFlipField)}));
}

void CTestCmdDlg::OnHideVideo() {
  SendFromButton(Command(kVideoGroup, {Hex8(kProductIdField), kVideoHide}));
}

void CTestCmdDlg::OnTscReprogram() {
  SendFromButton(Command(kVideoGroup, {Hex8(kProductIdField), kReprogram}));
}

void CTestCmdDlg::OnTouchFilter() {
  SendFromButton(
      Command(kTouchGroup, {Dec8(kProductIdField), kTouchFilter, Dec8(kSkipStartField), Dec8(kSkipStopField),
                            Dec8(kNumFiltField), Dec8(kMinDeltaField), Dec8(kLookBackField)}));
}

void CTestCmdDlg::OnBeep() {
  SendFromButton(
      Command(kTouchGroup, {Dec8(kProductIdField), kBeep, Dec8(kBeepDurationField), Dec8(kVolumeField)}));
}

void CTestCmdDlg::OnGamma() {
  SendFromButton(Command(kVideoGroup, {Hex8(kProductIdField), kReprogram, Dec8(kGammaField)}));
}

void CTestCmdDlg::OnRandomToggled(bool on) {
  if (on)
    randomTimer.start();
  else
    randomTimer.stop();
}

std::uint16_t CTestCmdDlg::NextRandom(int limit) {
  const int r = random ? random() : 0;
  const long long value = static_cast<long long>(r) * limit / kRandMax;
  return value < 0 || value > limit ? 0 : static_cast<std::uint16_t>(value);
}

void CTestCmdDlg::OnRandomTick() {
  if (LinkOpen()) {
    send(Command(kVideoGroup, {Hex8(kProductIdField), kVideoShow, Hi(randomX), Lo(randomX), Hi(randomY),
                               Lo(randomY), kRandomSize, Dec8(kChanField)}),
         1);
  }
  randomX = NextRandom(kRandomMaxX);
  randomY = NextRandom(kRandomMaxY);
}
