#include "log/data_log_query.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "log/event_log_query.h"
#include "log/record_file.h"
#include "model/clock.h"
#include "model/little_endian.h"
#include "model/zero_pad.h"

namespace tessel {

using le::GetF64;

namespace fs = std::filesystem;

namespace {

// Keeps the first `keep` digits of a digit string (value = 0.digits x 10^intDigits), rounding the
// rest half up. An all-zero result leaves the string empty.
void RoundDigits(std::string& ds, int& intDigits, int keep) {
  if (keep < 0) {
    ds.clear();
    return;
  }
  if (keep < static_cast<int>(ds.size())) {
    bool up = ds[keep] >= '5';
    ds.resize(keep);
    if (up) {
      int i = keep - 1;
      while (i >= 0 && ds[i] == '9') ds[i--] = '0';
      if (i >= 0) {
        ++ds[i];
      } else {
        ds.insert(ds.begin(), '1');
        ++intDigits;
      }
    }
  }
  if (ds.find_first_not_of('0') == std::string::npos) ds.clear();
}

constexpr const char* kTitlesZh[kDataLogColumns] = {
    "时间",           "设备地址",       "输入A相电压(V)",  "输入B相电压(V)", "输入C相电压(V)",
    "输出A相电压(V)", "输出B相电压(V)", "输出C相电压(V)",  "A相负载率(%)",   "B相负载率(%)",
    "C相负载率(%)",   "输出频率(Hz)",   "直流输入电压(V)", "电池容量率(%)",  "电池后备时间(分)"};
constexpr const char* kTitlesEn[kDataLogColumns] = {
    "Time",       "Address",      "InV-A (V)",  "InV-B (V)",    "InV-C (V)",
    "OutV-A (V)", "OutV-B (V)",   "OutV-C (V)", "Load-A (%)",   "Load-B (%)",
    "Load-C (%)", "OutFreq (Hz)", "DC V(V)",    "BattCapa (%)", "BattSuppTime(min)"};

}  // namespace

std::string FormatSignificant(double value, int precision, int digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  // 18 significant digits of the exact value, then one decimal rounding step.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
  std::string ds;
  ds += buf[0];
  ds.append(buf + 2, 17);
  int intDigits = std::atoi(std::strchr(buf, 'e') + 1) + 1;
  if (value == 0) ds.clear();
  const std::string all = ds;
  const int allIntDigits = intDigits;

  RoundDigits(ds, intDigits, std::min(precision, intDigits + digits));
  std::string out;
  if (!ds.empty() && intDigits > precision) {
    std::string m = all;
    int e = allIntDigits;
    RoundDigits(m, e, precision);
    m.resize(std::max<size_t>(m.size(), static_cast<size_t>(precision)), '0');
    if (value < 0) out += '-';
    out += m[0];
    if (precision > 1) out += '.' + m.substr(1, precision - 1);
    char exp[16];
    std::snprintf(exp, sizeof exp, "E%+03d", e - 1);
    return out + exp;
  }
  if (!ds.empty() && value < 0) out += '-';
  if (intDigits <= 0 || ds.empty()) {
    out += '0';
  } else {
    for (int i = 0; i < intDigits; ++i) out += i < static_cast<int>(ds.size()) ? ds[i] : '0';
  }
  if (digits > 0) {
    out += '.';
    for (int j = 0; j < digits; ++j) {
      int pos = intDigits + j;
      out += (!ds.empty() && pos >= 0 && pos < static_cast<int>(ds.size())) ? ds[pos] : '0';
    }
  }
  return out;
}

std::string DataLogMonthPath(const std::string& recordDir, uint16_t year, uint16_t month) {
  return (fs::path(recordDir) /
          ("DataLog" + std::to_string(year) + "_" + ZeroPad(month, 2) + ".dat"))
      .string();
}

TRecFilter MakeDataLogFilter(const std::string& recordDir, bool dateMode, uint16_t year,
                             uint16_t month, uint16_t day, bool byAddress, uint16_t address) {
  TRecFilter f;
  f.Year = year;
  f.Month = month;
  f.Day = dateMode ? day : 0;
  f.Address = byAddress ? address : 0;
  f.FileName = DataLogMonthPath(recordDir, year, month);
  return f;
}

bool DataLogMatches(const TRecFilter& filter, const TDataRec& rec) {
  if (filter.Address != 0 && rec.Address != filter.Address) return false;
  if (!StampHasDate(rec.Time)) return false;
  if (filter.Day != 0) {
    DateTimeParts d = DecodeDateTime(rec.Time);
    if (d.Year != filter.Year || d.Month != filter.Month || d.Day != filter.Day) return false;
  }
  return true;
}

bool ForEachDataLogMatch(const TRecFilter& filter,
                         const std::function<void(const TDataRec&)>& visit) {
  return ForEachRecord(filter.FileName, kDataRecSize, -1, [&](const uint8_t* bytes) {
    TDataRec rec = DecodeDataRec(bytes);
    if (DataLogMatches(filter, rec)) visit(rec);
  });
}

namespace {

// Finite doubles onto unsigned integers in the same order; everything stays below kTextKey.
uint64_t NumberKey(double v) {
  if (v == 0) v = 0;  // -0 and 0 show alike
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return (bits & 0x8000000000000000ULL) ? ~bits : bits | 0x8000000000000000ULL;
}

constexpr uint64_t kTextKey = 0xFFF0000000000000ULL;  // the key +infinity would have

uint64_t MeasureKey(double v) {
  if (std::isnan(v)) return kTextKey + 3;                // "NAN"
  if (std::isinf(v)) return kTextKey + (v < 0 ? 1 : 2);  // "-INF", "INF"
  return NumberKey(v);
}

}  // namespace

uint64_t DataLogSortKey(const TDataRec& rec, int column) {
  const uint8_t* b = rec.Block.data();
  switch (column) {
    case 0:
      return NumberKey(rec.Time);  // the text "yyyy-mm-dd hh:mm:ss" orders as the time does
    case 1:
      return NumberKey(rec.Address);
    case 13: {
      auto capa = static_cast<int32_t>(static_cast<uint32_t>(b[88]) | uint32_t{b[89]} << 8 |
                                       uint32_t{b[90]} << 16 | uint32_t{b[91]} << 24);
      return capa > 0 ? NumberKey(capa) : kTextKey;  // an empty cell
    }
    case 14: {
      auto minutes = static_cast<uint16_t>(b[92] | b[93] << 8);
      return minutes != 0 ? NumberKey(minutes) : kTextKey;
    }
    default:
      if (column >= 2 && column <= 12) return MeasureKey(GetF64(b + 8 * (column - 2)));
      return kTextKey;
  }
}

std::vector<TDataRec> QueryDataLog(const TRecFilter& filter) {
  std::vector<TDataRec> out;
  ForEachDataLogMatch(filter, [&](const TDataRec& r) { out.push_back(r); });
  return out;
}

std::string DataLogCell(const TDataRec& rec, int column) {
  const uint8_t* b = rec.Block.data();
  switch (column) {
    case 0:
      return FormatDateTime(rec.Time);
    case 1:
      return std::to_string(rec.Address);
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:  // voltages
      return FormatSignificant(GetF64(b + 8 * (column - 2)), 5, 1);
    case 8:
    case 9:
    case 10:  // load per phase
      return FormatSignificant(GetF64(b + 8 * (column - 2)), 4, 0);
    case 11:
    case 12:  // output frequency, DC voltage
      return FormatSignificant(GetF64(b + 8 * (column - 2)), 5, 1);
    case 13: {
      auto capa = static_cast<int32_t>(static_cast<uint32_t>(b[88]) | uint32_t{b[89]} << 8 |
                                       uint32_t{b[90]} << 16 | uint32_t{b[91]} << 24);
      return capa > 0 ? std::to_string(capa) : std::string();
    }
    case 14: {
      auto minutes = static_cast<uint16_t>(b[92] | b[93] << 8);
      return minutes != 0 ? std::to_string(minutes) : std::string();
    }
    default:
      return "";
  }
}

GridRow DataLogRowCells(const TDataRec& rec) {
  GridRow row;
  row.reserve(kDataLogColumns);
  for (int c = 0; c < kDataLogColumns; ++c) row.push_back(DataLogCell(rec, c));
  return row;
}

GridRow DataLogHeader(uint8_t language) {
  const auto& titles = language == 1 ? kTitlesZh : kTitlesEn;
  return GridRow(std::begin(titles), std::end(titles));
}

std::vector<std::string> ListDataLogMonths(const std::string& recordDir) {
  std::vector<std::string> items;
  std::error_code ec;
  for (fs::directory_iterator it(recordDir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string name = it->path().filename().string();
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".dat") != 0) continue;
    name.resize(name.size() - 4);
    if (name.compare(0, 7, "DataLog") == 0 && name.size() >= 7) items.push_back(name);
  }
  std::sort(items.begin(), items.end());
  return items;
}

bool DeleteDataLogMonth(const std::string& recordDir, const std::string& item) {
  // Only plain names of this folder: an item never reaches outside it.
  if (item.compare(0, 7, "DataLog") != 0 || item.size() < 7 ||
      item.find_first_of("/\\") != std::string::npos || item.find("..") != std::string::npos)
    return false;
  std::error_code ec;
  return fs::remove(fs::path(recordDir) / (item + ".dat"), ec) && !ec;
}

}  // namespace tessel
