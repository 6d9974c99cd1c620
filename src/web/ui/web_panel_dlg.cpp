#include "web/ui/web_panel_dlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "web/ui/qr_code.h"

namespace {

QString Link(const QString& url) {
  return QStringLiteral("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped());
}

}  // namespace

CWebPanelDlg::CWebPanelDlg(std::function<WebPanelStatus()> statusSource, std::function<void(bool)> switcher,
                           QWidget* parent)
    : QDialog(parent), status(std::move(statusSource)), switchPanel(std::move(switcher)) {
  setWindowTitle(QStringLiteral("Web Panel"));
  auto* layout = new QVBoxLayout(this);
  stateLabel = new QLabel(this);
  stateLabel->setWordWrap(true);
  layout->addWidget(stateLabel);

  auto* form = new QFormLayout;
  viewLabel = new QLabel(this);
  controlLabel = new QLabel(this);
  for (QLabel* label : {viewLabel, controlLabel}) {
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(true);
  }
  form->addRow(QStringLiteral("Look on:"), viewLabel);
  form->addRow(QStringLiteral("Control:"), controlLabel);
  layout->addLayout(form);

  qrLabel = new QLabel(this);
  qrLabel->setAlignment(Qt::AlignCenter);
  qrLabel->setToolTip(QStringLiteral("The control address, for a phone's camera"));
  layout->addWidget(qrLabel);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  switchButton = buttons->addButton(QStringLiteral("Switch On"), QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  connect(switchButton, &QPushButton::clicked, this, [this] {
    if (switchPanel) switchPanel(!running);
    Refresh();
  });
  layout->addWidget(buttons);

  refreshTimer.setInterval(1000);
  connect(&refreshTimer, &QTimer::timeout, this, &CWebPanelDlg::Refresh);
}

void CWebPanelDlg::Refresh() {
  const WebPanelStatus now = status ? status() : WebPanelStatus{};
  running = now.running;
  if (now.running) {
    stateLabel->setText(QStringLiteral("The web panel is on: %1 page(s) connected. Anyone with the control "
                                       "address can press the receiver's keys.")
                            .arg(now.pages));
    viewLabel->setText(Link(now.viewUrl));
    controlLabel->setText(Link(now.controlUrl));
  } else {
    QString text = QStringLiteral("The web panel is off.");
    if (!now.problem.isEmpty()) text += QLatin1Char(' ') + now.problem;
    text += QStringLiteral(
        " It starts with plowview --web-panel, or with Enabled=1 in section [WebPanel] of the "
        "settings file.");
    stateLabel->setText(text);
    viewLabel->setText(QStringLiteral("-"));
    controlLabel->setText(QStringLiteral("-"));
  }
  const QString qrText = now.running ? now.controlUrl : QString();
  if (qrText != shownQrText) {
    shownQrText = qrText;
    const QImage code = qrText.isEmpty() ? QImage() : QrCodeImage(qrText, 4);
    qrLabel->setPixmap(code.isNull() ? QPixmap() : QPixmap::fromImage(code));
    qrLabel->setVisible(!code.isNull());
  }
  switchButton->setText(now.running ? QStringLiteral("Switch Off") : QStringLiteral("Switch On"));
  adjustSize();
}

void CWebPanelDlg::showEvent(QShowEvent* event) {
  Refresh();
  refreshTimer.start();
  QDialog::showEvent(event);
}

void CWebPanelDlg::hideEvent(QHideEvent* event) {
  refreshTimer.stop();
  QDialog::hideEvent(event);
}
