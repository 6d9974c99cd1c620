#include "app/ui/button_test_view.h"

#include <QPaintEvent>
#include <QPainter>

#include "app/instance_lock.h"
#include "app/settings_profile.h"

namespace {

const QColor kPanelColour(40, 42, 46);

}  // namespace

CButtonTestView::CButtonTestView(CButtonTestDoc* document, const ViewServices& services, QWidget* parent)
    : QWidget(parent), document(document), services(services), settings(*services.profile) {
  setFixedSize(kPanelWidth, kPanelHeight);
}

CButtonTestView::~CButtonTestView() = default;

void CButtonTestView::OnInitialUpdate() {
  instanceLock = std::make_unique<CInstanceLock>(services.lockFolder);
  instanceNumber = instanceLock->Number();
  window()->setWindowTitle(QStringLiteral("%1 [%2]").arg(QLatin1String(kProgramName)).arg(instanceNumber));
  settings.LoadSettings();
}

bool CButtonTestView::IsCommandEnabled(int /*commandId*/) const {
  return true;
}

void CButtonTestView::OnFileConnect() {}

void CButtonTestView::OnFileDisconnect() {}

void CButtonTestView::OnClearBbRam() {}

void CButtonTestView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), kPanelColour);
}
