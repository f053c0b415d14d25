// Lists (combo boxes) read and set by their position, counted from 0.
#pragma once

class QComboBox;

// The selected position of a list: the item picked; in a list whose text can be typed, the item
// whose text the typed text equals exactly; -1 when there is none.
int ItemIndex(const QComboBox *combo);
// Selects position `index`; an index outside the list leaves no selection and an empty text.
void SetItemIndex(QComboBox *combo, int index);
