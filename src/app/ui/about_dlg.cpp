#include "app/ui/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <string>

#include "app/settings_profile.h"

CAboutDlg::CAboutDlg(const CSettingsProfile* settings, QWidget* parent)
    : QDialog(parent), settings(settings) {
  setObjectName(QStringLiteral("CAboutDlg"));
  setWindowTitle(QStringLiteral("About Plowview"));
  setModal(true);

  auto* icon = new QLabel;
  icon->setPixmap(ProgramIcon());
  setWindowIcon(QIcon(ProgramIcon()));
  icon->setObjectName(QStringLiteral("c128"));
  programLabel = new QLabel;
  programLabel->setObjectName(QStringLiteral("c%1").arg(kProgramVersionId));
  loggingLabel = new QLabel;
  loggingLabel->setObjectName(QStringLiteral("c%1").arg(kLoggingVersionId));
  auto* purpose = new QLabel(QStringLiteral("Remote front panel and diagnostic logger"));
  auto* receivers = new QLabel(QStringLiteral("for agricultural GPS receivers"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, Qt::Vertical);
  auto* reportBug = buttons->addButton(QStringLiteral("Report Bug"), QDialogButtonBox::ActionRole);
  reportBug->setObjectName(QStringLiteral("c%1").arg(kReportBugId));
  reportBug->setAutoDefault(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  // The dialog stays open after a report was started.
  connect(reportBug, &QPushButton::clicked, this, [this] { ReportBug(); });

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 4, 1, Qt::AlignTop);
  layout->addWidget(programLabel, 0, 1);
  layout->addWidget(loggingLabel, 1, 1);
  layout->addWidget(purpose, 2, 1);
  layout->addWidget(receivers, 3, 1);
  layout->addWidget(buttons, 0, 2, 4, 1);
  layout->setHorizontalSpacing(16);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  SetLoggingVersion(loggingVersion);
  SetProgramVersion(programVersion);
}

void CAboutDlg::RunAbout(const CSettingsProfile* settings, QWidget* parent) {
  CAboutDlg dialog(settings, parent);
  dialog.SetLoggingVersion(kLoggingVersion);
  dialog.SetProgramVersion(QString::fromLatin1(kProgramVersionText).toFloat());
  dialog.exec();
}

void CAboutDlg::SetLoggingVersion(float version) {
  loggingVersion = version;
  loggingVersionText = QString::asprintf("Logging Version %4.2f", static_cast<double>(version));
  loggingLabel->setText(loggingVersionText);
}

void CAboutDlg::SetProgramVersion(float version) {
  programVersion = version;
  programVersionText = QString::asprintf("Version %4.2f", static_cast<double>(version));
  programLabel->setText(programVersionText);
}

QString CAboutDlg::ReportAddress() const {
  const std::string host = settings
                               ? settings->GetString(kSettingsSection, kReportHostKey, kDefaultReportHost)
                               : std::string(kDefaultReportHost);
  QString address = QString::fromStdString(host);
  // "http://host/" must not become "http://host//enter_bug.cgi".
  while (address.endsWith(u'/')) address.chop(1);
  return address + QLatin1String(kReportPath) + QLatin1String(kProgramVersionText);
}

bool CAboutDlg::ReportBug() {
  const QString program = QStandardPaths::findExecutable(QString::fromLatin1(kBrowserProgram));
  if (program.isEmpty()) return false;
  return QProcess::startDetached(program, {ReportAddress()});
}

QPixmap CAboutDlg::ProgramIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  // Sky and a ploughed field in furrows.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3a, 0x7b, 0xc8));
  p.drawRoundedRect(QRectF(0, 0, 32, 32), 5, 5);
  p.setBrush(QColor(0x6b, 0x8e, 0x23));
  QPainterPath field;
  field.moveTo(0, 20);
  field.lineTo(32, 17);
  field.lineTo(32, 27);
  field.quadTo(32, 32, 27, 32);
  field.lineTo(5, 32);
  field.quadTo(0, 32, 0, 27);
  field.closeSubpath();
  p.drawPath(field);
  p.setPen(QPen(QColor(0x4a, 0x63, 0x18), 1.2));
  for (int i = 0; i < 4; ++i) p.drawLine(QPointF(4 + i * 7, 32), QPointF(12 + i * 5, 19.5 - i * 0.6));
  // The receiver: a dome on a mast, with signal arcs above it.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf2, 0xf2, 0xf2));
  p.drawRect(QRectF(15, 12, 2, 7));
  p.drawChord(QRectF(10, 7, 12, 10), 0, 180 * 16);
  p.setPen(QPen(QColor(0xff, 0xd7, 0x40), 1.6, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(11, 2, 10, 8), 30 * 16, 120 * 16);
  p.drawArc(QRectF(7, -1, 18, 12), 40 * 16, 100 * 16);
  return pixmap;
}
