#include "app/ui/qt_prompts.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

namespace {

QMessageBox::Icon ToQt(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::None:
      return QMessageBox::NoIcon;
    case PromptIcon::Information:
      return QMessageBox::Information;
    case PromptIcon::Exclamation:
      return QMessageBox::Warning;
    case PromptIcon::Error:
      return QMessageBox::Critical;
    case PromptIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::Ok:
      return QMessageBox::Ok;
    case PromptButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case PromptButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case PromptButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

// A box closed without a button (Escape, the close box) gives the answer that changes nothing.
PromptAnswer FromQt(int button, PromptButtons buttons) {
  switch (button) {
    case QMessageBox::Ok:
      return PromptAnswer::Ok;
    case QMessageBox::Cancel:
      return PromptAnswer::Cancel;
    case QMessageBox::Yes:
      return PromptAnswer::Yes;
    case QMessageBox::No:
      return PromptAnswer::No;
    default:
      break;
  }
  switch (buttons) {
    case PromptButtons::Ok:
      return PromptAnswer::Ok;
    case PromptButtons::YesNo:
      return PromptAnswer::No;
    case PromptButtons::OkCancel:
    case PromptButtons::YesNoCancel:
      break;
  }
  return PromptAnswer::Cancel;
}

}  // namespace

CQtPrompts::CQtPrompts(QObject* parent) : QObject(parent) {}

// A notice window without a parent window would outlive the prompts otherwise.
CQtPrompts::~CQtPrompts() {
  delete noticeBox.data();
}

PromptAnswer CQtPrompts::MessageBox(const std::string& text, const std::string& caption, PromptIcon icon,
                                    PromptButtons buttons) {
  if (QThread::currentThread() == thread()) return ShowOnUiThread(text, caption, icon, buttons);
  PromptAnswer answer = PromptAnswer::Cancel;
  QMetaObject::invokeMethod(
      this, [&] { answer = ShowOnUiThread(text, caption, icon, buttons); }, Qt::BlockingQueuedConnection);
  return answer;
}

PromptAnswer CQtPrompts::ShowOnUiThread(const std::string& text, const std::string& caption, PromptIcon icon,
                                        PromptButtons buttons) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text), ToQt(buttons),
                  parentWidget.data());
  if (buttons == PromptButtons::YesNo) box.setEscapeButton(QMessageBox::No);
  return FromQt(box.exec(), buttons);
}

void CQtPrompts::Notify(const std::string& text) {
  const QString line = QString::fromStdString(text);
  if (QThread::currentThread() == thread()) {
    NotifyOnUiThread(line);
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, line] { NotifyOnUiThread(line); }, Qt::QueuedConnection);
}

void CQtPrompts::NotifyOnUiThread(const QString& text) {
  if (noticeBox.isNull()) {
    noticeLines.clear();
    noticeBox = new QMessageBox(QMessageBox::Warning, QStringLiteral("Plowview"), QString(), QMessageBox::Ok,
                                parentWidget.data());
    noticeBox->setAttribute(Qt::WA_DeleteOnClose);
    noticeBox->setWindowModality(Qt::NonModal);
  }
  noticeLines.append(text);
  while (noticeLines.size() > kMaxNoticeLines) noticeLines.removeFirst();
  noticeBox->setText(noticeLines.join(QLatin1Char('\n')));
  noticeBox->show();
}
