// How the device search reaches the device tree without including it: the search appends the
// units that answered to EquipList, then asks the tree to show them and the file to hold them.
#pragma once

#include <cstdint>

namespace tessel {

class DeviceListSeam {
 public:
  virtual ~DeviceListSeam() = default;

  virtual bool IsAddressListed(uint8_t addr) const = 0;
  virtual void RebuildTree() = 0;
  // False when the file could not be written (the operator has been told).
  virtual bool SaveDeviceList() = 0;
};

}  // namespace tessel
