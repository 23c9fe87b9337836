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

class QSettings;

namespace qvb {

enum class TRegResult { Ok, Absent, WrongType };

class TRegistryStore {
  public:
    TRegistryStore();
    ~TRegistryStore();
    TRegistryStore(const TRegistryStore&) = delete;
    TRegistryStore& operator=(const TRegistryStore&) = delete;

    // The file behind the store (for messages and tests).
    std::string fileName() const;

    // A key "opens" when it holds a value or a subkey; "" is the top level.
    bool keyExists(const std::string& group) const;
    bool valueExists(const std::string& group, const std::string& name) const;
    // The subkeys of the top level, in the store's own order.
    std::vector<std::string> subkeys() const;
    // Number of values directly in a key.
    size_t valueCount(const std::string& group) const;

    TRegResult readString(const std::string& group, const std::string& name,
                          std::string& value) const;
    TRegResult readInteger(const std::string& group, const std::string& name, int32_t& value) const;
    TRegResult readBinaryDouble(const std::string& group, const std::string& name,
                                double& value) const;

    // False for a text that is not valid UTF-8 (it could not be stored as it stands).
    bool writeString(const std::string& group, const std::string& name, const std::string& value);
    void writeInteger(const std::string& group, const std::string& name, int32_t value);
    void writeBinaryDouble(const std::string& group, const std::string& name, double value);

    void deleteValue(const std::string& group, const std::string& name);
    void deleteKey(const std::string& group);

    // Writes pending changes (QSettings replaces its file through a temporary
    // file and a rename) and reports whether that worked.
    bool sync();
    // What undoes every change made after this call, written or pending: a
    // refused operation puts the store back as it was.
    std::function<void()> undoPoint();

  private:
    std::unique_ptr<QSettings> fSettings;
};

}  // namespace qvb
