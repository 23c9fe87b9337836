#include "engine/CopyStatistics.h"

#include "util/CommaText.h"
#include "util/QV_Utils.h"

namespace qvb {

namespace {

std::string counted(int64_t n, const char* singular, const char* plural) {
    return formatThousands(n) + (n == 1 ? singular : plural);
}

std::string foundText(int32_t files, int32_t dirs) {
    return counted(files, " Datei in ", " Dateien in ") +
           counted(dirs, " Verzeichnis gefunden", " Verzeichnissen gefunden");
}

void appendPart(std::string& text, const std::string& part) {
    if (!text.empty()) text += ", ";
    text += part;
}

}  // namespace

void TCopyStatistics::reset() {
    std::vector<std::string> lines = std::move(fLines);
    *this = TCopyStatistics();
    fLines = std::move(lines);
}

void TCopyStatistics::addFrom(const TCopyStatistics& o) {
    fAdded += o.fAdded;
    fReplaced += o.fReplaced;
    fSkipped += o.fSkipped;
    fNotCopied += o.fNotCopied;
    fDeleted += o.fDeleted;
    fWarnings += o.fWarnings;
    fErrors += o.fErrors;
    fNotDeleted += o.fNotDeleted;
    fDirsDeleted += o.fDirsDeleted;
    fSourceFiles += o.fSourceFiles;
    fDestFiles += o.fDestFiles;
    fSourceDirs += o.fSourceDirs;
    fDestDirs += o.fDestDirs;
    fSourceBytes += o.fSourceBytes;
    fDestBytes += o.fDestBytes;
    fCopiedBytes += o.fCopiedBytes;
    fLinked += o.fLinked;
    fCurrent = o.fCurrent;
}

std::string TCopyStatistics::summaryText() {
    fLines.clear();
    auto add = [this](int64_t n, const char* singular, const char* plural) {
        if (n > 0) fLines.push_back(counted(n, singular, plural));
    };
    add(fAdded, " Datei hinzugefügt. ", " Dateien hinzugefügt. ");
    add(fReplaced, " Datei ersetzt. ", " Dateien ersetzt. ");
    add(fSkipped, " Datei übersprungen. ", " Dateien übersprungen. ");
    add(fNotCopied, " Datei NICHT kopiert. ", " Dateien NICHT kopiert. ");
    add(fDeleted, " Datei gelöscht. ", " Dateien gelöscht. ");
    if (fCopiedBytes > 0) fLines.push_back(formatFileSize(fCopiedBytes) + " kopiert. ");
    add(fDirsDeleted, " Verzeichnis gelöscht. ", " Verzeichnisse gelöscht. ");
    add(fNotDeleted, " Datei konnte nicht gelöscht werden. ",
        " Dateien konnten nicht gelöscht werden. ");
    add(fWarnings, " Warnungen. ", " Warnungen. ");
    add(fErrors, " Fehler. ", " Fehler. ");
    return joinCommaText(fLines);
}

std::string TCopyStatistics::sourceFoundText() const {
    return foundText(fSourceFiles, fSourceDirs);
}

std::string TCopyStatistics::destFoundText() const {
    return foundText(fDestFiles, fDestDirs);
}

std::string TCopyStatistics::deletionText() const {
    std::string text;
    if (fDeleted > 0) text = counted(fDeleted, " Datei gelöscht", " Dateien gelöscht");
    if (fNotDeleted > 0)
        appendPart(text, counted(fNotDeleted, " Datei NICHT gelöscht", " Dateien NICHT gelöscht"));
    if (fErrors > 0) appendPart(text, formatThousands(fErrors) + " Fehler beim Löschen");
    if (fDirsDeleted > 0)
        appendPart(text, fDirsDeleted == 1
                             ? std::string("  1 leeres Verzeichnis gelöscht")
                             : std::to_string(fDirsDeleted) + " leere Verzeichnisse gelöscht");
    return text.empty() ? "  keine Dateien gelöscht." : "  " + text + ".";
}

std::string TCopyStatistics::linkedText() const {
    return fLinked > 0 ? counted(fLinked, " Datei verknüpft.", " Dateien verknüpft.") : "";
}

bool TCopyStatistics::compareWith(const TCopyStatistics& e,
                                  std::vector<std::string>* output) const {
    if (!output) return false;
    output->clear();
    auto check = [output](int32_t own, int32_t expected, const char* label) {
        if (own != expected)
            output->push_back("Abweichung: Ist = " + formatThousands(own) +
                              ", Soll = " + formatThousands(expected) + label);
    };
    check(fAdded, e.fAdded, " Dateien hinzugefügt.");
    check(fReplaced, e.fReplaced, " Dateien ersetzt.");
    check(fSkipped, e.fSkipped, " Dateien übersprungen.");
    check(fNotCopied, e.fNotCopied, " NICHT kopiert ersetzt.");
    check(fDeleted, e.fDeleted, " Dateien gelöscht.");
    check(fDirsDeleted, e.fDirsDeleted, " Verzeichnisse gelöscht.");
    check(fWarnings, e.fWarnings, " Warnungen.");
    check(fErrors, e.fErrors, " Fehler.");
    check(fNotDeleted, e.fNotDeleted, " nicht löschbare Dateien.");
    check(fSourceFiles, e.fSourceFiles, " Quelldateien.");
    check(fDestFiles, e.fDestFiles, " Zieldateien.");
    check(fSourceDirs, e.fSourceDirs, " Quellverzeichnisse.");
    check(fDestDirs, e.fDestDirs, " Zielverzeichnisse.");
    return output->empty();
}

}  // namespace qvb
