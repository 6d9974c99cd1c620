#pragma once

#include <QAbstractButton>

#include "app/ui/panel_art.h"

// One of the panel's six keys, drawn from the panel art: the released picture, or the pushed one
// while the mouse holds it down or the view shows it pushed for a keyboard key (setDown). Never
// takes the keyboard focus, so the keys of the PC keyboard keep going to the view.
class CPanelKeyButton : public QAbstractButton {
  Q_OBJECT
 public:
  // `art` must outlive the button.
  CPanelKeyButton(const CPanelArt& art, CPanelArt::KeyFace face, const QString& caption, int controlId,
                  QWidget* parent);

  int ControlId() const { return controlId; }
  QSize sizeHint() const override { return CPanelArt::KeySize(face); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CPanelArt& art;
  CPanelArt::KeyFace face;
  int controlId;
  QPixmap released;
  QPixmap pushed;
};
