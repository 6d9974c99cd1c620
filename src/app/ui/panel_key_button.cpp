#include "app/ui/panel_key_button.h"

#include <QPainter>

CPanelKeyButton::CPanelKeyButton(const CPanelArt& artRef, CPanelArt::KeyFace keyFace, const QString& caption,
                                 int id, QWidget* parent)
    : QAbstractButton(parent),
      art(artRef),
      face(keyFace),
      controlId(id),
      released(art.Key(keyFace, false)),
      pushed(art.Key(keyFace, true)) {
  setText(caption);
  setAccessibleName(caption);
  setObjectName(QStringLiteral("c%1").arg(id));
  setFocusPolicy(Qt::NoFocus);
  setFixedSize(CPanelArt::KeySize(face));
}

void CPanelKeyButton::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, isDown() ? pushed : released);
}
