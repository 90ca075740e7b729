// What the add-device and property dialogs share: the name edit, the layout of their name and
// address rows and buttons, the accessible names of their fields and the messages for a refused
// name.
#pragma once

#include <QString>
#include <cstdint>

#include "model/device_name.h"

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace tessel {

// A name edit wide enough to show the longest name the field holds (20 Chinese characters).
QLineEdit* MakeNameEdit(QWidget* parent);

// Lays the dialog out: name row, address row, then the two buttons at the right; fixed size, tab
// order name, address, accept, cancel. Cancel rejects the dialog.
void LayOutNameDialog(QDialog* dialog, QLabel* nameLabel, QLineEdit* name, QLabel* addrLabel,
                      QWidget* addr, QPushButton* accept, QPushButton* cancel);

// Sets a field's label and gives the field that text, without its colon, as accessible name.
void LabelField(QLabel* label, QWidget* field, const QString& text);

// The message for a name refused as too long or as holding characters that cannot be stored;
// empty for the other verdicts (each dialog words the empty name itself).
QString NameRefusal(const NameCheckResult& check, uint8_t language);

}  // namespace tessel
