#include "app/list_positions.h"

#include <QComboBox>

int ItemIndex(const QComboBox *combo) {
  const int index = combo->currentIndex();
  if (!combo->isEditable()) return index;
  const QString text = combo->currentText();
  if (index >= 0 && combo->itemText(index) == text) return index;
  return combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void SetItemIndex(QComboBox *combo, int index) {
  if (index < 0 || index >= combo->count()) {
    combo->setCurrentIndex(-1);
    if (combo->isEditable()) combo->setEditText(QString());
    return;
  }
  combo->setCurrentIndex(index);
  if (combo->isEditable()) combo->setEditText(combo->itemText(index));
}
