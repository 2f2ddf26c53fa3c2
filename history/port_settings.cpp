#include "history/port_settings.h"

#include "devices/device_names.h"

#include <stdio.h>
#include <string.h>

#include <cmath>

#include "baud/alias.h"

namespace {

constexpr NumberFieldRange WriteBufferSizeRange = {1, 4096};
constexpr NumberFieldRange WriteBufferThresholdRange = {1, 20};
constexpr NumberFieldRange WriteLatencyRange = {1, 16};
constexpr NumberFieldRange TransferSizeRange = {TRANSFER_SIZE_UNIT, 64 * TRANSFER_SIZE_UNIT};
constexpr NumberFieldRange IdleTimeoutRange = {1000, 3600000};
constexpr OptionBit NoBit = {0, 0};

SettingSpec Number(const char* name, DriverValueId value, uint32_t DeviceRecord::*field,
                   NumberFieldRange range, uint32_t known, const char* unit) {
  return {name, SETTING_NUMBER, value, field, range, known, NoBit, 0, unit};
}

SettingSpec Option(const char* name, OptionBit bit) {
  return {name, SETTING_OPTION, VALUE_CONFIG_DATA, nullptr, {0, 1}, 0, bit, 0, ""};
}

SettingSpec TransferSize(const char* name, int byte) {
  return {name, SETTING_TRANSFER_SIZE, VALUE_CONFIG_DATA, nullptr, TransferSizeRange, 0, NoBit,
          byte, "bytes"};
}

SettingSpec Alias(const char* name, int entry) {
  return {name, SETTING_ALIAS_ENTRY, VALUE_CONFIG_DATA, nullptr, {0, 0}, 0, NoBit, entry, ""};
}

}  // namespace

const SettingSpec Settings[SETTING_COUNT] = {
    Number("minReadTimeout", VALUE_MIN_READ_TIMEOUT, &DeviceRecord::MinReadTimeout,
           MinReadTimeoutRange, KNOWN_MIN_READ_TIMEOUT, "ms"),
    Number("minWriteTimeout", VALUE_MIN_WRITE_TIMEOUT, &DeviceRecord::MinWriteTimeout,
           MinWriteTimeoutRange, KNOWN_MIN_WRITE_TIMEOUT, "ms"),
    Number("pollingPeriod", VALUE_POLLING_PERIOD, &DeviceRecord::PollingPeriod, PollingPeriodRange,
           KNOWN_POLLING_PERIOD, "ms"),
    Number("latencyTimer", VALUE_LATENCY_TIMER, &DeviceRecord::LatencyTimer, LatencyTimerRange,
           KNOWN_LATENCY_TIMER, "ms"),
    Option("serialPrinter", SerialPrinter),
    Option("cancelIfPowerOff", CancelIfPowerOff),
    Option("eventOnSurpriseRemoval", EventOnSurpriseRemoval),
    Option("setRtsOnClose", SetRtsOnClose),
    Option("disableModemCtrlAtStartup", DisableModemCtrlAtStartup),
    {"serialEnumerator",
     SETTING_SERIAL_ENUMERATOR,
     VALUE_UPPER_FILTERS,
     nullptr,
     {0, 1},
     0,
     NoBit,
     0,
     ""},
    Option("bufferedWrites", BufferedWritesEnabled),
    Number("writeBufferSize", VALUE_WRITE_BUFFER_SIZE, &DeviceRecord::WriteBufferSize,
           WriteBufferSizeRange, KNOWN_WRITE_BUFFER_SIZE, "bytes"),
    Number("writeBufferThreshold", VALUE_WRITE_BUFFER_THRESHOLD,
           &DeviceRecord::WriteBufferThreshold, WriteBufferThresholdRange,
           KNOWN_WRITE_BUFFER_THRESHOLD, ""),
    Number("writeLatency", VALUE_WRITE_LATENCY, &DeviceRecord::WriteLatency, WriteLatencyRange,
           KNOWN_WRITE_LATENCY, "ms"),
    TransferSize("usbTransferSizeIn", TRANSFER_SIZE_IN_BYTE),
    TransferSize("usbTransferSizeOut", TRANSFER_SIZE_OUT_BYTE),
    Option("selectiveSuspend", SelectiveSuspend),
    Number("selectiveSuspendIdleTimeout", VALUE_SS_IDLE_TIMEOUT, &DeviceRecord::SSIdleTimeout,
           IdleTimeoutRange, KNOWN_SS_IDLE_TIMEOUT, "ms"),
    {"baudAliases", SETTING_ALIAS_TABLE, VALUE_CONFIG_DATA, nullptr, {0, 0}, 0, NoBit, 0, ""},
    Alias("baudAlias.300", 1),
    Alias("baudAlias.600", 2),
    Alias("baudAlias.1200", 3),
    Alias("baudAlias.2400", 4),
    Alias("baudAlias.4800", 5),
    Alias("baudAlias.9600", 6),
    Alias("baudAlias.19200", 7),
    Alias("baudAlias.38400", 8),
    Alias("baudAlias.57600", 9),
    Alias("baudAlias.115200", 10),
    Alias("baudAlias.230400", 11),
    Alias("baudAlias.460800", 12),
    Alias("baudAlias.921600", 13),
    Alias("baudAlias.14400", 15),
};


std::string SettingsHelpText() {
  std::string text = "Settings (on/off ones take on, off, true, false, 1, 0):\n ";
  size_t column = 1;
  auto add = [&](const std::string& item) {
    if (column + item.size() + 2 > 88) {
      text += "\n ";
      column = 1;
    }
    text += " " + item + ",";
    column += item.size() + 2;
  };
  std::string aliases;
  for (const SettingSpec& definition : Settings) {
    std::string item = definition.Name;
    if (definition.Kind == SETTING_NUMBER || definition.Kind == SETTING_TRANSFER_SIZE) {
      item += " (" + std::to_string(definition.Range.Min) + "-" +
              std::to_string(definition.Range.Max) +
              (*definition.Unit ? std::string(" ") + definition.Unit : std::string()) + ")";
    } else if (definition.Kind == SETTING_ALIAS_TABLE) {
      item += " (default or tarnlink)";
    } else if (definition.Kind == SETTING_ALIAS_ENTRY) {
      aliases += std::string(" ") + (definition.Name + strlen(AliasSettingPrefix));
      continue;
    }
    add(item);
  }
  text += "\n  " + std::string(AliasSettingPrefix) + "N (N one of" + aliases +
          "): the actual rate a program asking for N baud gets, e.g. baudAlias.9600=9700.\n";
  return text;
}

const SettingSpec IgnoreSerialSetting = {
    "ignoreSerial", SETTING_OPTION, VALUE_CONFIG_DATA, nullptr, {0, 1}, 0, {0, 0}, 0, ""};

const SettingSpec* FindSetting(const std::string& name) {
  for (const SettingSpec& definition : Settings)
    if (name == definition.Name) return &definition;
  return nullptr;
}

static bool ConfigDataKnown(const DeviceRecord& record) {
  return (record.KnownSettings & KNOWN_CONFIG_DATA) != 0;
}

static AliasTableChoice AliasTableOf(const unsigned char* configData) {
  if (memcmp(configData + ALIAS_TABLE_OFFSET, DefaultAliasTable, ALIAS_TABLE_SIZE) == 0) return ALIASES_DEFAULT;
  if (memcmp(configData + ALIAS_TABLE_OFFSET, TarnlinkAliasTable, ALIAS_TABLE_SIZE) == 0) return ALIASES_TARNLINK;
  return ALIASES_CUSTOM;
}

// Whether the ConfigData the registry holds reaches that byte: a shorter
// value stores nothing beyond its end, and what is not stored is missing,
// not zero (an alias of zero would read as 3,000,000 baud).
static bool StoredUpTo(const DeviceRecord& record, size_t end) {
  return ConfigDataKnown(record) && (record.ConfigDataStored == 0 || end <= record.ConfigDataStored);
}

SettingValue CurrentValue(const SettingSpec& definition, const DeviceRecord& record) {
  switch (definition.Kind) {
    case SETTING_NUMBER:
      return {(record.KnownSettings & definition.Known) != 0, record.*definition.Field};
    case SETTING_OPTION:
      return {StoredUpTo(record, (size_t)definition.Bit.Byte + 1),
              GetOptionBit(record.ConfigData, definition.Bit) ? 1u : 0u};
    case SETTING_SERIAL_ENUMERATOR:
      return {(record.KnownSettings & (READ_UPPER_FILTERS | KNOWN_UPPER_FILTERS)) != 0,
              IsSerialEnumeratorOn(record.UpperFilters) ? 1u : 0u};
    case SETTING_ALIAS_TABLE:
      return {StoredUpTo(record, CONFIG_DATA_SIZE), (uint32_t)AliasTableOf(record.ConfigData)};
    case SETTING_TRANSFER_SIZE:
      return {StoredUpTo(record, (size_t)definition.Entry + 1),
              ((uint32_t)record.ConfigData[definition.Entry] + 1) * TRANSFER_SIZE_UNIT};
    case SETTING_ALIAS_ENTRY:
      // Bits 17 to 31 carry nothing: an entry compares as it would be written.
      return {StoredUpTo(record, (size_t)definition.Entry * 4 + 4),
              EncodeDivisor(DecodeDivisor(GetConfigEntry(record.ConfigData, definition.Entry)))};
  }
  return {false, 0};
}

int ComNumberOf(const std::string& name) {
  return name.size() > 6 ? 0 : ComNumberOfName(name.c_str());
}

bool ListedBefore(const std::string& portA, const std::string& serialA, const std::string& portB,
                  const std::string& serialB) {
  int a = ComNumberOf(portA), b = ComNumberOf(portB);
  if (a != b) return a != 0 && (b == 0 || a < b);
  return serialA < serialB;
}

static bool ParseOnOff(const std::string& text, uint32_t* on) {
  static const char* const onWords[] = {"on", "true", "1"};
  static const char* const offWords[] = {"off", "false", "0"};
  for (const char* word : onWords)
    if (EqualsIgnoringCase(text, word)) return *on = 1, true;
  for (const char* word : offWords)
    if (EqualsIgnoringCase(text, word)) return *on = 0, true;
  return false;
}

// Digits only, no sign or blank: a script's "1e3" or " 5" is a mistake.
static bool ParseWholeNumber(const std::string& text, uint64_t* number) {
  if (text.empty() || text.size() > 12) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (uint64_t)(c - '0');
  }
  *number = n;
  return true;
}

// A rate: digits, and at most one point with digits after it ("9700",
// "299.996"); nothing else, so that "1e3" or "9,600" is a mistake.
static bool ParseRate(const std::string& text, double* rate) {
  if (text.empty() || text.size() > 20) return false;
  double whole = 0, scale = 0;
  bool point = false, digits = false;
  for (char c : text) {
    if (c == '.' && !point) {
      point = true;
      scale = 1;
      continue;
    }
    if (c < '0' || c > '9') return false;
    digits = true;
    if (point) {
      scale /= 10;
      whole += (c - '0') * scale;
    } else {
      whole = whole * 10 + (c - '0');
    }
  }
  if (!digits || text.back() == '.') return false;
  *rate = whole;
  return true;
}

bool ParseSettingValue(const SettingSpec& definition, const std::string& text, SettingValue* value,
                       std::string* reason) {
  value->Known = true;
  switch (definition.Kind) {
    case SETTING_NUMBER: {
      uint64_t n;
      if (!ParseWholeNumber(text, &n) || n < definition.Range.Min || n > definition.Range.Max) {
        *reason = "takes a whole number from " + std::to_string(definition.Range.Min) + " to " +
                  std::to_string(definition.Range.Max);
        return false;
      }
      value->Number = (uint32_t)n;
      return true;
    }
    case SETTING_TRANSFER_SIZE: {
      uint64_t n;
      if (!ParseWholeNumber(text, &n) || n < definition.Range.Min || n > definition.Range.Max ||
          n % TRANSFER_SIZE_UNIT) {
        *reason = "takes " + std::to_string(definition.Range.Min) + " to " +
                  std::to_string(definition.Range.Max) + " bytes, a multiple of 64";
        return false;
      }
      value->Number = (uint32_t)n;
      return true;
    }
    case SETTING_OPTION:
    case SETTING_SERIAL_ENUMERATOR:
      if (ParseOnOff(text, &value->Number)) return true;
      *reason = "takes on, off, true, false, 1 or 0";
      return false;
    case SETTING_ALIAS_TABLE:
      if (EqualsIgnoringCase(text, "default")) return value->Number = ALIASES_DEFAULT, true;
      if (EqualsIgnoringCase(text, "tarnlink")) return value->Number = ALIASES_TARNLINK, true;
      *reason = "takes default or tarnlink";
      return false;
    case SETTING_ALIAS_ENTRY: {
      double rate;
      ClosestDivisor closest;
      if (!ParseRate(text, &rate) || !FindClosestDivisor(rate, &closest)) {
        *reason = "takes a baud rate above 183.1 and up to 1500000, or 2000000 or 3000000";
        return false;
      }
      value->Number = EncodeDivisor(closest.Divisor);
      return true;
    }
  }
  *reason = "is not a setting";
  return false;
}

void ApplySetting(const SettingSpec& definition, const SettingValue& value, DeviceRecord* record) {
  switch (definition.Kind) {
    case SETTING_NUMBER:
      record->*definition.Field = value.Number;
      record->KnownSettings |= definition.Known;
      return;
    case SETTING_OPTION:
      SetOptionBit(record->ConfigData, definition.Bit, value.Number != 0);
      record->KnownSettings |= KNOWN_CONFIG_DATA;
      return;
    case SETTING_SERIAL_ENUMERATOR:
      // Off keeps a filter of another product, as the windowed program does.
      if (value.Number || (record->KnownSettings & KNOWN_UPPER_FILTERS))
        SetSerialEnumerator(record, value.Number != 0);
      return;
    case SETTING_ALIAS_TABLE:
      memcpy(record->ConfigData + ALIAS_TABLE_OFFSET,
             value.Number == ALIASES_TARNLINK ? TarnlinkAliasTable : DefaultAliasTable,
             ALIAS_TABLE_SIZE);
      record->KnownSettings |= KNOWN_CONFIG_DATA;
      return;
    case SETTING_ALIAS_ENTRY:
      SetConfigEntry(record->ConfigData, definition.Entry, value.Number);
      record->KnownSettings |= KNOWN_CONFIG_DATA;
      return;
    case SETTING_TRANSFER_SIZE:
      record->ConfigData[definition.Entry] = (unsigned char)(value.Number / TRANSFER_SIZE_UNIT - 1);
      record->KnownSettings |= KNOWN_CONFIG_DATA;
      return;
  }
}

bool SameValue(const SettingValue& a, const SettingValue& b) {
  return a.Known == b.Known && (!a.Known || a.Number == b.Number);
}

double GeneratedRateOfEntry(uint32_t entry) {
  // To three decimals, and such that the divisor search gives this entry
  // again: it never rounds up to the next whole divisor, so a rate rounded
  // up by a hair would come back one eighth lower.
  double rate = BaseBaudRate / DecodeDivisor(entry);
  double rounded = std::round(rate * 1000.0) / 1000.0;
  double cut = std::floor(rate * 1000.0) / 1000.0;
  for (double candidate : {rounded, cut, cut - 0.001}) {
    ClosestDivisor closest;
    if (FindClosestDivisor(candidate, &closest) &&
        EncodeDivisor(closest.Divisor) == (entry & 0x1FFFF))
      return candidate;
  }
  return rounded;
}

std::string FormatRate(double rate) {
  char text[32];
  snprintf(text, sizeof text, "%.3f", rate);
  std::string shown = text;
  while (shown.back() == '0') shown.pop_back();
  if (shown.back() == '.') shown.pop_back();
  return shown;
}

std::string FormatSettingValue(const SettingSpec& definition, const SettingValue& value) {
  if (!value.Known) return "missing";
  switch (definition.Kind) {
    case SETTING_NUMBER:
    case SETTING_TRANSFER_SIZE:
      return std::to_string(value.Number);
    case SETTING_OPTION:
    case SETTING_SERIAL_ENUMERATOR:
      return value.Number ? "on" : "off";
    case SETTING_ALIAS_TABLE:
      return value.Number == ALIASES_DEFAULT    ? "default"
             : value.Number == ALIASES_TARNLINK ? "tarnlink"
                                                : "custom";
    case SETTING_ALIAS_ENTRY:
      return FormatRate(GeneratedRateOfEntry(value.Number));
  }
  return "";
}

nlohmann::ordered_json SettingJson(const SettingSpec& definition, const SettingValue& value) {
  if (!value.Known) return nullptr;
  switch (definition.Kind) {
    case SETTING_NUMBER:
    case SETTING_TRANSFER_SIZE:
      return value.Number;
    case SETTING_OPTION:
    case SETTING_SERIAL_ENUMERATOR:
      return value.Number != 0;
    case SETTING_ALIAS_TABLE:
      return FormatSettingValue(definition, value);
    case SETTING_ALIAS_ENTRY: {
      double rate = GeneratedRateOfEntry(value.Number);
      if (rate == (double)(uint64_t)rate) return (uint64_t)rate;
      return rate;
    }
  }
  return nullptr;
}

