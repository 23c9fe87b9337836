#pragma once

// The values of a stored record (a job, the options), each described once as
// a row of a table: its name, its type, its default in the registry store
// (or none: required there), its default in an INI file and the export, a
// limit, and how it reaches its field. One loop per record reads and writes
// such a table for every store, so a new value costs one row.

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/SettingsStore.h"

namespace qvb {

// Booleans are numbers 1 and 0 in every store.
enum class TValueType { Text, Number, Time };
using TStoredValue = std::variant<std::string, int32_t, TDateTime>;

// An INI default that is not a fixed value: the record's own name, or now.
enum class TDefaultFrom { Value, RecordName, Now };

struct TIniDefault {
    TDefaultFrom from = TDefaultFrom::Value;
    TStoredValue value;
    TStoredValue resolve(const std::string& record) const;
};

// Short names for the tables.
inline constexpr TValueType kText = TValueType::Text;
inline constexpr TValueType kNumber = TValueType::Number;
inline constexpr TValueType kTime = TValueType::Time;
inline constexpr TDefaultFrom kFixed = TDefaultFrom::Value;
inline constexpr std::nullopt_t kRequired = std::nullopt;

template <class Owner>
struct TStoredRow {
    const char* name;
    TValueType type;
    std::optional<TStoredValue> registryDefault;  // none: a required value
    TIniDefault iniDefault;                       // also the import's
    TStoredValue (*get)(const Owner&);
    void (*set)(Owner&, const TStoredValue&);
    // Applied to a number as it is read (and where the record says so, after).
    int32_t (*limit)(int32_t) = nullptr;
    bool limitOnImport = true;
    // The count of a list of texts stored as name + "0", name + "1", ...
    // right after it.
    const char* listName = nullptr;
    std::vector<std::string> Owner::*list = nullptr;
    // Told whether a store that keeps value types held the value.
    void (*announce)(Owner&, bool held) = nullptr;
};

// Reads or writes one value in the form its type has in the store.
TReadResult readStored(TSettingsStore& store, const std::string& record, const std::string& name,
                       TValueType type, TStoredValue& value);
bool writeStored(TSettingsStore& store, const std::string& record, const std::string& name,
                 const TStoredValue& value);
TStoredValue limited(const TStoredValue& value, int32_t (*limit)(int32_t));

// Row access to a plain field; a boolean is stored as 1 or 0.
template <auto Field, class Owner>
TStoredValue fieldValue(const Owner& owner) {
    using T = std::remove_cvref_t<decltype(owner.*Field)>;
    if constexpr (std::is_same_v<T, bool>)
        return int32_t{owner.*Field ? 1 : 0};
    else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, TDateTime>)
        return owner.*Field;
    else
        return static_cast<int32_t>(owner.*Field);
}

template <auto Field, class Owner>
void setField(Owner& owner, const TStoredValue& value) {
    using T = std::remove_cvref_t<decltype(owner.*Field)>;
    if constexpr (std::is_same_v<T, bool>)
        owner.*Field = std::get<int32_t>(value) != 0;
    else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, TDateTime>)
        owner.*Field = std::get<T>(value);
    else
        owner.*Field = static_cast<T>(std::get<int32_t>(value));
}

}  // namespace qvb
