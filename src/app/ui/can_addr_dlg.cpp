#include "app/ui/can_addr_dlg.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/protocol/prompts.h"

CCanAddrDlg::CCanAddrDlg(IPrompts& promptsRef, QWidget* parent) : QDialog(parent), prompts(promptsRef) {
  setWindowTitle(QStringLiteral("Select Device By Address"));
  auto* layout = new QVBoxLayout(this);
  list = new QListWidget(this);
  list->setObjectName(QStringLiteral("c%1").arg(kListId));
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("c1"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("c2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CCanAddrDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CCanAddrDlg::reject);
  layout->addWidget(buttons);
  resize(260, 220);
}

bool CCanAddrDlg::AddEntry(const std::string& entry) {
  if (entries.size() >= kMaxEntries) return false;
  entries.push_back(entry);
  return true;
}

void CCanAddrDlg::showEvent(QShowEvent* event) {
  if (!filled) {
    filled = true;
    for (const std::string& entry : entries) list->addItem(QString::fromStdString(entry));
  }
  QDialog::showEvent(event);
}

void CCanAddrDlg::accept() {
  const int row = list->currentRow();
  if (row < 0 || !list->currentItem() || !list->currentItem()->isSelected()) {
    prompts.MessageBox("Please select a device to connect to.", "Plowview", PromptIcon::Exclamation);
    return;
  }
  selected = entries[static_cast<std::size_t>(row)];
  QDialog::accept();
}
