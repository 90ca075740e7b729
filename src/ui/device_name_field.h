// What the add-device and property dialogs share about the device name: its edit, the accessible
// names of their fields and the messages for a refused name.
#pragma once

#include <QString>
#include <cstdint>

#include "model/device_name.h"

class QLineEdit;
class QWidget;

namespace tessel {

// A name edit wide enough to show the longest name the field holds (20 Chinese characters).
QLineEdit* MakeNameEdit(QWidget* parent);

// The accessible name of a field, taken from its label: the label text without its colon.
QString FieldName(const QString& labelText);

// The message for a name refused as too long or as holding characters that cannot be stored;
// empty for the other verdicts (each dialog words the empty name itself).
QString NameRefusal(const NameCheckResult& check, uint8_t language);

}  // namespace tessel
