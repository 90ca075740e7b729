// The settings a unit lets the operator change, one item at a time: each item's texts, register
// and value area, how it shows the unit's current value, and the check that turns what the
// operator chose or typed into the one register value written. Some lists and ranges depend on
// the model code entered with the settings password. The parameter setting dialog only shows what
// this gives it and collects the operator's input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/ups_info.h"

namespace tessel {

// ---- settings password and model code ----------------------------------------------------------

// The model that has an operation mode (register 40029): its code adds the setting item, the
// readout of the user data window and a fifth poll step.
inline constexpr const char* kOptModeModel = "ZEV305LB";
// Bits of the status control word (register 40027) that switch the buzzer and boost charge off.
inline constexpr uint16_t kBuzzerOffBit = 0x1000;
inline constexpr uint16_t kBoostOffBit = 0x2000;

constexpr int kPasswordMaxLength = 10;

// The four accepted codes, compared exactly.
bool IsAcceptedModelCode(const std::string& code);
// The typed text without leading and trailing blanks and control characters.
std::string TrimPassword(const std::string& typed);
// The OK press of the password dialog: true when the trimmed text is an accepted code, which then
// becomes the model code. A refused text leaves the model code as it was.
bool EnterModelCode(std::string& modelCode, const std::string& typed);

// ---- setting items -----------------------------------------------------------------------------

enum class ItemLayout : uint8_t { None, List, Number, Switches };

struct ParamItemInfo {
  const char* zh;  // list text, Chinese
  const char* en;  // list text, English
  int reg;         // holding register, five-digit notation
  ItemLayout layout;
};

constexpr int kParamItemCount = 20;
constexpr int kOptModeItem = 19;  // listed only for the model code that has an operation mode
constexpr int kEodItem = 11;      // the one number item read as a decimal fraction

const ParamItemInfo& ParamItem(int item);  // 0 .. kParamItemCount-1
// How many items the list holds for a model code: 19, or 20 with the operation mode.
int ParamItemCount(const std::string& modelCode);

struct ParamChoice {
  std::string text;  // as shown, in the language asked for
  int32_t value;     // what choosing it writes (negative values go out as 16-bit two's complement)
};

// What the value area shows for an item and the unit's current settings.
struct ItemView {
  ItemLayout layout = ItemLayout::None;
  std::vector<ParamChoice> choices;  // List
  int selected = -1;                 // List: the choice of the current value, -1 none
  std::string number;                // Number: the current value as the box shows it
  bool buzzerDisabled = false;       // Switches: the current state of the two switches
  bool boostDisabled = false;
};
ItemView ShowParamItem(int item, const TUpsParams& current, const std::string& modelCode,
                       uint8_t language);

// What the operator set in the value area.
struct ItemInput {
  int choice = -1;     // List: the chosen position, -1 none
  std::string number;  // Number: the box's text
  bool buzzerDisabled = false;
  bool boostDisabled = false;
};

struct ItemCheck {
  bool ok = false;
  uint16_t value = 0;   // the register value to write, when ok
  std::string message;  // when refused, e.g. "[Battery Group] value is invalid"
  // A new text for the number box: the suggested value after a refusal where the item has one,
  // or the accepted end-of-discharge voltage as it will be written.
  std::optional<std::string> numberText;
};
// Checks the input against the item's rule. Number boxes must hold a whole decimal integer (the
// end-of-discharge voltage a decimal fraction) within the item's range; nothing is cut to 16 or 8
// bits, so a value out of range is refused, never wrapped.
ItemCheck CheckParamItem(int item, const ItemInput& in, const TUpsParams& current,
                         const std::string& modelCode);

// ---- battery self-test -------------------------------------------------------------------------

// The self-test length typed by the operator: a whole number of seconds, 1 .. 65535.
ItemCheck CheckSelfTestTime(const std::string& text);

}  // namespace tessel
