#include "platform/RegistryStore.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <bit>
#include <cstring>

#include "platform/IniFile.h"

namespace qvb {

namespace {

QString toQ(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString keyPath(const std::string& group, const std::string& name) {
    return group.empty() ? toQ(name) : toQ(group) + u'/' + toQ(name);
}

}  // namespace

TRegistryStore::TRegistryStore()
    : fSettings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Nerk"), QStringLiteral("QV_Backup"))) {
    // Only the user's own store: a job from a system-wide or organisation-wide
    // file would load, run and never go away, since a save cannot delete it.
    fSettings->setFallbacksEnabled(false);
}

TRegistryStore::~TRegistryStore() = default;

std::string TRegistryStore::fileName() const {
    return fSettings->fileName().toStdString();
}

bool TRegistryStore::keyExists(const std::string& group) const {
    if (group.empty()) return !fSettings->allKeys().isEmpty();
    // Only the group's own keys are looked at: listing every group for each
    // job made loading many jobs quadratic.
    fSettings->beginGroup(toQ(group));
    const bool found = !fSettings->childKeys().isEmpty() || !fSettings->childGroups().isEmpty();
    fSettings->endGroup();
    return found;
}

bool TRegistryStore::valueExists(const std::string& group, const std::string& name) const {
    return fSettings->contains(keyPath(group, name));
}

std::vector<std::string> TRegistryStore::subkeys() const {
    std::vector<std::string> names;
    for (const QString& g : fSettings->childGroups()) names.push_back(g.toStdString());
    return names;
}

size_t TRegistryStore::valueCount(const std::string& group) const {
    fSettings->beginGroup(toQ(group));
    const auto n = static_cast<size_t>(fSettings->childKeys().size());
    fSettings->endGroup();
    return n;
}

TRegResult TRegistryStore::readString(const std::string& group, const std::string& name,
                                      std::string& value) const {
    const QVariant v = fSettings->value(keyPath(group, name));
    if (!v.isValid()) return TRegResult::Absent;
    if (v.typeId() != QMetaType::QString) return TRegResult::WrongType;
    value = v.toString().toStdString();
    return TRegResult::Ok;
}

TRegResult TRegistryStore::readInteger(const std::string& group, const std::string& name,
                                       int32_t& value) const {
    const QVariant v = fSettings->value(keyPath(group, name));
    if (!v.isValid()) return TRegResult::Absent;
    bool ok = false;
    qlonglong n = 0;
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            n = v.toLongLong(&ok);
            break;
        case QMetaType::QString:
            // The text form of the Linux store; "12abc" or "" is a wrong type.
            n = v.toString().toLongLong(&ok);
            break;
        default:
            break;
    }
    if (!ok || n < INT32_MIN || n > UINT32_MAX) return TRegResult::WrongType;
    value = static_cast<int32_t>(static_cast<uint32_t>(n));
    return TRegResult::Ok;
}

TRegResult TRegistryStore::readBinaryDouble(const std::string& group, const std::string& name,
                                            double& value) const {
    const QVariant v = fSettings->value(keyPath(group, name));
    if (!v.isValid()) return TRegResult::Absent;
    if (v.typeId() != QMetaType::QByteArray) return TRegResult::WrongType;
    const QByteArray bytes = v.toByteArray();
    if (bytes.size() != 8) return TRegResult::WrongType;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
    value = std::bit_cast<double>(bits);
    return TRegResult::Ok;
}

bool TRegistryStore::writeString(const std::string& group, const std::string& name,
                                 const std::string& value) {
    if (!isValidUtf8(value)) return false;
    fSettings->setValue(keyPath(group, name), toQ(value));
    return true;
}

void TRegistryStore::writeInteger(const std::string& group, const std::string& name,
                                  int32_t value) {
    fSettings->setValue(keyPath(group, name), value);
}

void TRegistryStore::writeBinaryDouble(const std::string& group, const std::string& name,
                                       double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i, bits >>= 8) bytes[i] = static_cast<char>(bits & 0xFF);
    fSettings->setValue(keyPath(group, name), bytes);
}

void TRegistryStore::deleteValue(const std::string& group, const std::string& name) {
    fSettings->remove(keyPath(group, name));
}

void TRegistryStore::deleteKey(const std::string& group) {
    // QSettings reads an empty group as "everything".
    if (!group.empty()) fSettings->remove(toQ(group));
}

bool TRegistryStore::sync() {
    fSettings->sync();
    return fSettings->status() == QSettings::NoError;
}

// QSettings cannot drop pending changes (it writes them when it is
// destroyed), so the values as they were are set again instead.
std::function<void()> TRegistryStore::undoPoint() {
    QList<std::pair<QString, QVariant>> values;
    for (const QString& key : fSettings->allKeys()) values.append({key, fSettings->value(key)});
    return [this, values] {
        fSettings->clear();
        for (const auto& [key, value] : values) fSettings->setValue(key, value);
    };
}

}  // namespace qvb
