#include "platform/RegistryStore.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
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

std::string TRegistryStore::storeFileName() const {
    return fSettings->fileName().toStdString();
}

bool TRegistryStore::hasRecord(const std::string& group) {
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

std::vector<std::string> TRegistryStore::records() {
    std::vector<std::string> names;
    for (const QString& g : fSettings->childGroups()) names.push_back(g.toStdString());
    return names;
}

size_t TRegistryStore::valueCount(const std::string& group) {
    fSettings->beginGroup(toQ(group));
    const auto n = static_cast<size_t>(fSettings->childKeys().size());
    fSettings->endGroup();
    return n;
}

TReadResult TRegistryStore::readText(const std::string& group, const std::string& name,
                                     std::string& value) {
    const QVariant v = fSettings->value(keyPath(group, name));
    if (!v.isValid()) return TReadResult::Absent;
    if (v.typeId() != QMetaType::QString) return TReadResult::WrongType;
    value = v.toString().toStdString();
    return TReadResult::Ok;
}

TReadResult TRegistryStore::readNumber(const std::string& group, const std::string& name,
                                       int32_t& value) {
    const QVariant v = fSettings->value(keyPath(group, name));
    if (!v.isValid()) return TReadResult::Absent;
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
    if (!ok || n < INT32_MIN || n > UINT32_MAX) return TReadResult::WrongType;
    value = static_cast<int32_t>(static_cast<uint32_t>(n));
    return TReadResult::Ok;
}

TReadResult TRegistryStore::readTime(const std::string& group, const std::string& name,
                                     TDateTime& value) {
    const QVariant v = fSettings->value(keyPath(group, name));
    if (!v.isValid()) return TReadResult::Absent;
    if (v.typeId() != QMetaType::QByteArray) return TReadResult::WrongType;
    const QByteArray bytes = v.toByteArray();
    if (bytes.size() != 8) return TReadResult::WrongType;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
    value = std::bit_cast<double>(bits);
    return TReadResult::Ok;
}

std::string TRegistryStore::unstorableReason(std::string_view value) const {
    return isValidUtf8(value) ? "" : "ist kein gültiger UTF-8-Text";
}

bool TRegistryStore::writeText(const std::string& group, const std::string& name,
                               const std::string& value) {
    if (!isValidUtf8(value)) return false;
    fSettings->setValue(keyPath(group, name), toQ(value));
    return true;
}

bool TRegistryStore::writeNumber(const std::string& group, const std::string& name, int32_t value) {
    fSettings->setValue(keyPath(group, name), value);
    return true;
}

bool TRegistryStore::writeTime(const std::string& group, const std::string& name, TDateTime value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i, bits >>= 8) bytes[i] = static_cast<char>(bits & 0xFF);
    fSettings->setValue(keyPath(group, name), bytes);
    return true;
}

bool TRegistryStore::eraseValue(const std::string& group, const std::string& name) {
    fSettings->remove(keyPath(group, name));
    return true;
}

bool TRegistryStore::eraseRecord(const std::string& group) {
    // QSettings reads an empty group as "everything".
    if (!group.empty()) fSettings->remove(toQ(group));
    return true;
}

void TRegistryStore::keepOnlyRecords(const std::vector<std::string>& names) {
    for (const std::string& record : records())
        if (std::find(names.begin(), names.end(), record) == names.end()) eraseRecord(record);
}

bool TRegistryStore::commit() {
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
