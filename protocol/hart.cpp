#include "protocol/hart.h"

#include "protocol/byte_loop.h"

namespace {

std::vector<uint8_t> Frame(int preambles, std::vector<uint8_t> body) {
  std::vector<uint8_t> out(static_cast<size_t>(preambles > 0 ? preambles : 0), hart::kPreamble);
  out.insert(out.end(), body.begin(), body.end());
  out.push_back(HartChecksum(body.data(), body.size()));
  return out;
}

// Unit codes in the order of the unit lists; the last position, "other", has none.
constexpr int kUnitCodes[kUnitCount - 1] = {
    1,   2,   3,   4,   5,   6,   7,   8,   11,  12,  14,  237, 32,  33,  34,  35,  15,  16,  17,
    19,  24,  26,  28,  131, 136, 138, 20,  21,  114, 115, 116, 120, 40,  41,  43,  46,  111, 112,
    113, 124, 44,  45,  47,  48,  49,  60,  61,  62,  63,  125, 70,  71,  72,  73,  74,  77,  78,
    80,  81,  82,  91,  92,  93,  94,  95,  96,  97,  54,  55,  69,  89,  126, 128, 164, 165, 57,
};

// The position of every one-byte code; the monitor decodes a unit with each variable it shows.
constexpr std::array<uint8_t, 256> MakeUnitPositions() {
  std::array<uint8_t, 256> positions{};
  for (auto &p : positions) p = kUnitCount - 1;
  for (int i = 0; i < kUnitCount - 1; ++i) positions[static_cast<size_t>(kUnitCodes[i])] = static_cast<uint8_t>(i);
  return positions;
}
constexpr std::array<uint8_t, 256> kUnitPositions = MakeUnitPositions();

// The names of the unit lists, in their order.
constexpr const char *kUnitNames[kUnitCount] = {
    "inH20",    "inhg",         "FtH20",        "mmH20",      "mmHg",       "psi",          "bar",
    "mbar",     "Pa",           "KPa",          "ATM",        "MPa",        "\u2103",       "\u2109",
    "R",        "Kelvin",       "CuFt_min",     "gal_min",    "l_min",      "CuMtr_hr",     "l_s",
    "Cuft_s",   "CuMtr_s",      "CuMtr_min",    "gal_hr",     "l_hr",       "ft_s",         "mtr_s",
    "in_s",     "in_min",       "ft_min",       "mtr_hr",     "gal",        "liter",        "CuMtr",
    "bbl",      "CuYd",         "CuFt",         "CuIn",       "bbl_liq",    "ft",           "M",
    "in",       "cm",           "mm",           "gram",       "kg",         "MetTon",       "lb",
    "ounce",    "g_s",          "g_min",        "g_hr",       "kg_s",       "kg_min",       "metTOM_min",
    "metton_hr", "lb_s",        "lb_min",       "lb_hr",      "g_CuCM",     "KG_CuMtr",     "lb_gal",
    "lb_Cuft",  "g_ml",         "kb_l",         "g_l",        "centi_stokes", "cpoise",     "mewtom_meter",
    "deka_therm", "foot_pound_force", "kilo_watt_hour", "mega_joule", "british_thermal_unit", "%", "other",
};

}  // namespace

const char *UnitName(int position) {
  return position >= 0 && position < kUnitCount ? kUnitNames[position] : "";
}

RQ735_BYTE_LOOP uint8_t HartChecksum(const uint8_t *bytes, size_t count) {
  uint8_t x = 0;
  for (size_t i = 0; i < count; ++i) x ^= bytes[i];
  return x;
}

std::vector<uint8_t> HartShortFrame(int preambles, uint8_t masterFlag, uint8_t pollingAddress, uint8_t command,
                                    const std::vector<uint8_t> &data) {
  std::vector<uint8_t> body{hart::kShortRequest, static_cast<uint8_t>(masterFlag + pollingAddress), command,
                            static_cast<uint8_t>(data.size())};
  body.insert(body.end(), data.begin(), data.end());
  return Frame(preambles, std::move(body));
}

std::vector<uint8_t> HartLongFrame(int preambles, uint8_t masterFlag, const HartIdentity &id, uint8_t command,
                                   const std::vector<uint8_t> &data) {
  std::vector<uint8_t> body{hart::kLongRequest, static_cast<uint8_t>(masterFlag | id.manufacturer),
                            id.deviceType,      id.deviceId[0],
                            id.deviceId[1],     id.deviceId[2],
                            command,            static_cast<uint8_t>(data.size())};
  body.insert(body.end(), data.begin(), data.end());
  return Frame(preambles, std::move(body));
}

std::vector<uint8_t> HartRawFrame(int preambles, const std::vector<uint8_t> &body) { return Frame(preambles, body); }

int UnitPosition(int unitCode) {
  return unitCode >= 0 && unitCode < 256 ? kUnitPositions[static_cast<size_t>(unitCode)] : kUnitCount - 1;
}

std::optional<uint8_t> UnitCodeFromName(std::string_view name) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (int i = 0; i < kUnitCount - 1; ++i) {
    const std::string_view candidate = kUnitNames[i];
    if (candidate.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < name.size() && same; ++k) same = lower(candidate[k]) == lower(name[k]);
    if (same) return static_cast<uint8_t>(kUnitCodes[i]);
  }
  return std::nullopt;
}
