#pragma once

// What options and job records are kept in: the program INI file (and the
// export file) or the user's registry store. Both answer the same calls, so
// the code that reads and writes records is written once.
//
// A store holds records (an INI section, a registry key) of named values.
// Values are texts, 32-bit numbers (booleans as 1 and 0) and date-times; each
// store writes them in its own form. Writes collect until commit, which
// replaces the store's file in one step.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/DateTime.h"

namespace qvb {

// A read tells an absent value from one that cannot be read as the type asked
// for (a text where a number belongs, a date that is no date).
enum class TReadResult { Ok, Absent, WrongType };

class TSettingsStore {
  public:
    virtual ~TSettingsStore() = default;

    // The file behind the store (for messages).
    virtual std::string storeFileName() const = 0;
    // False when the store exists but cannot be read; such a store is never
    // written over by single values.
    virtual bool readable() = 0;
    // Whether values carry their types (the registry store): an absent record
    // is not read at all, and a value that is required but absent, or of the
    // wrong type, ends the reading of its record. In a text file (an INI
    // file) whatever is absent or unreadable takes its default.
    virtual bool keepsValueTypes() const = 0;
    // The name of the record that holds the options.
    virtual std::string optionsRecord() const = 0;

    // The records in the store's own order.
    virtual std::vector<std::string> records() = 0;
    virtual bool hasRecord(const std::string& record) = 0;
    // Number of values directly in a record.
    virtual size_t valueCount(const std::string& record) = 0;

    virtual TReadResult readText(const std::string& record, const std::string& name,
                                 std::string& value) = 0;
    virtual TReadResult readNumber(const std::string& record, const std::string& name,
                                   int32_t& value) = 0;
    virtual TReadResult readTime(const std::string& record, const std::string& name,
                                 TDateTime& value) = 0;

    // Why the store cannot keep a text value as it stands ("enthält einen
    // Zeilenumbruch" and the like); empty when it can. Checked for every value
    // before any is written.
    virtual std::string unstorableReason(std::string_view value) const = 0;
    // False when the store cannot keep the name or value as it stands.
    virtual bool writeText(const std::string& record, const std::string& name,
                           const std::string& value) = 0;
    virtual bool writeNumber(const std::string& record, const std::string& name, int32_t value) = 0;
    virtual bool writeTime(const std::string& record, const std::string& name, TDateTime value) = 0;

    // False when there was nothing to erase.
    virtual bool eraseValue(const std::string& record, const std::string& name) = 0;
    virtual bool eraseRecord(const std::string& record) = 0;
    // Takes out every record but the named ones.
    virtual void keepOnlyRecords(const std::vector<std::string>& names) = 0;

    // Writes the pending changes: one replace of the store's file.
    virtual bool commit() = 0;
    // What undoes every change made after this call, written or pending.
    virtual std::function<void()> undoPoint() = 0;
};

}  // namespace qvb
