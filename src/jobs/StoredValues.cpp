#include "jobs/StoredValues.h"

namespace qvb {

TStoredValue TIniDefault::resolve(const std::string& record) const {
    switch (from) {
        case TDefaultFrom::RecordName:
            return record;
        case TDefaultFrom::Now:
            return nowDateTime();
        case TDefaultFrom::Value:
            break;
    }
    return value;
}

TReadResult readStored(TSettingsStore& store, const std::string& record, const std::string& name,
                       TValueType type, TStoredValue& value) {
    TReadResult result = TReadResult::Absent;
    switch (type) {
        case TValueType::Text: {
            std::string text;
            result = store.readText(record, name, text);
            value = std::move(text);
            break;
        }
        case TValueType::Number: {
            int32_t number = 0;
            result = store.readNumber(record, name, number);
            value = number;
            break;
        }
        case TValueType::Time: {
            TDateTime time = 0;
            result = store.readTime(record, name, time);
            value = time;
            break;
        }
    }
    return result;
}

bool writeStored(TSettingsStore& store, const std::string& record, const std::string& name,
                 const TStoredValue& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return store.writeText(record, name, *text);
    if (const auto* number = std::get_if<int32_t>(&value))
        return store.writeNumber(record, name, *number);
    return store.writeTime(record, name, std::get<TDateTime>(value));
}

TStoredValue limited(const TStoredValue& value, int32_t (*limit)(int32_t)) {
    const auto* number = std::get_if<int32_t>(&value);
    return limit && number ? TStoredValue(limit(*number)) : value;
}

}  // namespace qvb
