// Checking a device name before it goes into the 40-byte GBK name field of the device list.
#pragma once

#include <string>

namespace tessel {

enum class NameCheck { Ok, Empty, TooLong, NotGbk };

struct NameCheckResult {
  NameCheck Verdict = NameCheck::Ok;
  // For NotGbk: the characters that cannot be stored, each once, in order of appearance, separated
  // by spaces; control characters written as U+XXXX so that a message can show them.
  std::string Unstorable;
};

// Checks a UTF-8 name in this order: empty, longer than the name field in GBK bytes, holding
// characters the field cannot keep. Those are characters GBK has no code for (they would come back
// as "?"), control characters (a NUL ends the name and trailing CRs are taken for padding when the
// field is read) and damaged UTF-8. The length counts only the characters that can be stored.
NameCheckResult CheckDeviceName(const std::string& utf8Name);

}  // namespace tessel
