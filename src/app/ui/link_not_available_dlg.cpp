#include "app/ui/link_not_available_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

CLinkNotAvailableDlg::CLinkNotAvailableDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CLinkNotAvailableDlg"));
  setWindowTitle(QStringLiteral("Link Not Available"));
  setModal(true);
  auto* text = new QLabel(QStringLiteral("Port Not Open"));
  text->setAlignment(Qt::AlignCenter);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}
