#pragma once

// The user's settings store: QSettings in native format, user scope,
// organisation "Nerk", application "QV_Backup" (on Linux
// $XDG_CONFIG_HOME/Nerk/QV_Backup.conf). The program's own values sit at its
// top level (group ""), each job in a group of its own ("Job01", ...).
//
// Values carry the types of the Windows registry: strings, 32-bit integers and
// 8-byte binaries (an IEEE 754 double, little-endian). Reads tell an absent
// value and one of the wrong type (e.g. a text where an integer is required)
// from a good one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/SettingsStore.h"

class QSettings;

namespace qvb {

class TRegistryStore : public TSettingsStore {
  public:
    TRegistryStore();
    ~TRegistryStore() override;
    TRegistryStore(const TRegistryStore&) = delete;
    TRegistryStore& operator=(const TRegistryStore&) = delete;

    std::string storeFileName() const override;
    bool readable() override { return true; }
    bool keepsValueTypes() const override { return true; }
    // The options are the values of the top level.
    std::string optionsRecord() const override { return ""; }

    // A key "opens" when it holds a value or a subkey; "" is the top level.
    bool hasRecord(const std::string& group) override;
    bool valueExists(const std::string& group, const std::string& name) const;
    // The subkeys of the top level, in the store's own order.
    std::vector<std::string> records() override;
    size_t valueCount(const std::string& group) override;

    TReadResult readText(const std::string& group, const std::string& name,
                         std::string& value) override;
    TReadResult readNumber(const std::string& group, const std::string& name,
                           int32_t& value) override;
    // An 8-byte binary value holding the IEEE 754 double.
    TReadResult readTime(const std::string& group, const std::string& name,
                         TDateTime& value) override;

    // Line breaks and NUL are kept; a text that is not valid UTF-8 is not.
    std::string unstorableReason(std::string_view value) const override;
    // False for a text that is not valid UTF-8 (it could not be stored as it stands).
    bool writeText(const std::string& group, const std::string& name,
                   const std::string& value) override;
    bool writeNumber(const std::string& group, const std::string& name, int32_t value) override;
    bool writeTime(const std::string& group, const std::string& name, TDateTime value) override;

    bool eraseValue(const std::string& group, const std::string& name) override;
    bool eraseRecord(const std::string& group) override;
    // Names are exact here: "JOB01" beside "Job01" is a second record.
    void keepOnlyRecords(const std::vector<std::string>& names) override;

    // Writes pending changes (QSettings replaces its file through a temporary
    // file and a rename) and reports whether that worked.
    bool commit() override;
    // A refused operation puts the store back as it was.
    std::function<void()> undoPoint() override;

  private:
    std::unique_ptr<QSettings> fSettings;
};

}  // namespace qvb
