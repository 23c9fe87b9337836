#include "app/CommandLine.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "util/Konstanten.h"

namespace qvb {

namespace {

std::optional<TCommand> commandOf(const std::string& arg) {
    if (arg == "--help") return TCommand::Help;
    if (arg == "--version") return TCommand::Version;
    if (arg == "--list") return TCommand::List;
    if (arg == "--run") return TCommand::Run;
    if (arg == "--selftest") return TCommand::SelfTest;
    if (arg == "--timers") return TCommand::Timers;
    if (arg == "--history") return TCommand::History;
    if (arg == "--versions") return TCommand::Versions;
    if (arg == "--restore") return TCommand::Restore;
    if (arg == "--notice-wait") return TCommand::NoticeWait;
    return std::nullopt;
}

bool takesValue(const std::string& arg) {
    return arg == "--ini" || arg == "--source-root" || arg == "--dest-root" || arg == "--to" ||
           arg == "--show-protocol";
}

bool isOption(const std::string& arg) {
    return commandOf(arg) || takesValue(arg) || arg == "--allow-mass-delete" ||
           arg == "--preview" || arg == "--unattended" || arg == "--overwrite";
}

TParsedCommandLine failure(std::string error) {
    TParsedCommandLine result;
    result.error = std::move(error);
    return result;
}

}  // namespace

TParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
    TParsedCommandLine result;
    std::optional<TCommand> command;
    bool iniGiven = false, sourceGiven = false, destGiven = false, toGiven = false,
         showGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool restoring = command == TCommand::Restore;
        if (restoring && arg == "--version") {
            // After --restore it names the version to restore from.
            if (!result.line.versionName.empty())
                return failure("Die Option --version ist mehrfach angegeben.");
            if (i + 1 >= args.size() || isOption(args[i + 1]) || args[i + 1].empty())
                return failure("Die Option --version erwartet nach --restore eine Version.");
            result.line.versionName = args[++i];
        } else if (auto c = commandOf(arg)) {
            if (command)
                return failure(
                    "Es ist nur einer der Befehle --help, --version, --list, --run, --selftest, "
                    "--timers, --history, --versions und --restore erlaubt.");
            command = c;
            if (*c == TCommand::Run) {
                while (i + 1 < args.size() && !isOption(args[i + 1]))
                    result.line.jobs.push_back(args[++i]);
                if (result.line.jobs.empty())
                    return failure("Die Option --run erwartet mindestens einen Job.");
            } else if (*c == TCommand::History && i + 1 < args.size() && !isOption(args[i + 1])) {
                result.line.jobs.push_back(args[++i]);
            } else if (*c == TCommand::NoticeWait) {
                unsigned long id = 0;
                if (i + 2 >= args.size() || std::sscanf(args[i + 1].c_str(), "%lu", &id) != 1 ||
                    id == 0 || id > UINT32_MAX || args[i + 2].empty())
                    return failure("Die Option --notice-wait erwartet eine Nummer und eine Datei.");
                result.line.noticeId = static_cast<uint32_t>(id);
                result.line.paths.push_back(args[i + 2]);
                i += 2;
            } else if (*c == TCommand::Versions || *c == TCommand::Restore) {
                if (i + 1 >= args.size() || isOption(args[i + 1]))
                    return failure("Die Option " + arg + " erwartet einen Job.");
                result.line.jobs.push_back(args[++i]);
            }
        } else if ((command == TCommand::Versions || restoring) && !isOption(arg)) {
            if (arg.empty()) return failure("Ein leerer Pfad ist nicht erlaubt.");
            result.line.paths.push_back(arg);
        } else if (arg == "--overwrite") {
            result.line.overwrite = true;
        } else if (arg == "--allow-mass-delete") {
            result.line.allowMassDelete = true;
        } else if (arg == "--preview") {
            result.line.preview = true;
        } else if (arg == "--unattended") {
            result.line.unattended = true;
        } else if (takesValue(arg)) {
            bool& given = arg == "--ini"             ? iniGiven
                          : arg == "--source-root"   ? sourceGiven
                          : arg == "--to"            ? toGiven
                          : arg == "--show-protocol" ? showGiven
                                                     : destGiven;
            if (given) return failure("Die Option " + arg + " ist mehrfach angegeben.");
            if (i + 1 >= args.size() || isOption(args[i + 1]) || args[i + 1].empty())
                return failure("Die Option " + arg + " erwartet einen Pfad.");
            given = true;
            std::string& target = arg == "--ini"             ? result.line.iniFile
                                  : arg == "--source-root"   ? result.line.sourceRoot
                                  : arg == "--to"            ? result.line.toDir
                                  : arg == "--show-protocol" ? result.line.showProtocol
                                                             : result.line.destRoot;
            target = args[++i];
        } else {
            return failure("Unbekannte Option: " + arg);
        }
    }
    result.line.command = command.value_or(TCommand::Window);
    const TCommand c = result.line.command;
    if (iniGiven && (c == TCommand::Help || c == TCommand::Version))
        return failure(
            "Die Option --ini gilt nur ohne Befehl oder mit --list, --run, --selftest, "
            "--timers, --history, --versions oder --restore.");
    if (showGiven && c != TCommand::Window)
        return failure("Die Option --show-protocol gilt nur ohne Befehl (für das Fenster).");
    if (result.line.allowMassDelete && c != TCommand::Run)
        return failure("Die Option --allow-mass-delete gilt nur mit --run.");
    if (result.line.preview && c != TCommand::Run && c != TCommand::Restore)
        return failure("Die Option --preview gilt nur mit --run oder --restore.");
    if ((toGiven || result.line.overwrite) && c != TCommand::Restore)
        return failure("Die Optionen --to und --overwrite gelten nur mit --restore.");
    if (c == TCommand::Versions && result.line.paths.size() > 1)
        return failure("Die Option --versions nimmt höchstens einen Pfad.");
    if (c == TCommand::Restore && result.line.paths.empty())
        return failure("Die Option --restore erwartet mindestens einen Pfad.");
    if (result.line.unattended && c != TCommand::Run)
        return failure("Die Option --unattended gilt nur mit --run.");
    if ((sourceGiven || destGiven) && c != TCommand::SelfTest)
        return failure("Die Optionen --source-root und --dest-root gelten nur mit --selftest.");
    result.ok = true;
    return result;
}

std::string helpText() {
    return std::string("QV_Backup ") + versionText() +
           "\n"
           "Datensicherung: spiegelt Quellverzeichnisse in ein Zielverzeichnis.\n"
           "\n"
           "Aufruf:\n"
           "  QV_Backup [--ini DATEI]          das Fenster öffnen\n"
           "  QV_Backup [--ini DATEI] --show-protocol DATEI\n"
           "                                   das Fenster öffnen (oder das offene nach vorn\n"
           "                                   holen) und in \"Frühere Protokolle\" den Lauf\n"
           "                                   zeigen, dessen Protokoll DATEI ist (eine Datei,\n"
           "                                   die --history nennt)\n"
           "  QV_Backup --help                 diese Hilfe\n"
           "  QV_Backup --version              Programmversion\n"
           "  QV_Backup [--ini DATEI] --list   gespeicherte Jobs auflisten (je Zeile, durch\n"
           "                                   Tabulatoren getrennt: Schlüssel, Name, Intervall,\n"
           "                                   aktiv, Löschen, Ziel, Quellen)\n"
           "  QV_Backup [--ini DATEI] [--allow-mass-delete] [--preview] [--unattended]\n"
           "            --run JOB [JOB ...]\n"
           "                                   gespeicherte Jobs nacheinander ausführen; JOB ist\n"
           "                                   der Schlüssel (\"Job01\") oder der genaue Name\n"
           "  QV_Backup [--ini DATEI] --selftest [--source-root VERZ] [--dest-root VERZ]\n"
           "                                   Selbsttest ausführen\n"
           "  QV_Backup [--ini DATEI] --timers die systemd-Timer der automatischen Jobs\n"
           "                                   schreiben, ändern oder entfernen (Option\n"
           "                                   \"Hintergrund\")\n"
           "  QV_Backup [--ini DATEI] --history [JOB]\n"
           "                                   die aufbewahrten Protokolle früherer Läufe\n"
           "                                   auflisten, älteste zuerst (je Zeile, durch\n"
           "                                   Tabulatoren getrennt: Start, Schlüssel, Name,\n"
           "                                   Ergebnis, Fehler, Warnungen, kopiert, gelöscht,\n"
           "                                   Datei); mit JOB nur die dieses Jobs\n"
           "  QV_Backup [--ini DATEI] --versions JOB [PFAD]\n"
           "                                   die Versionen eines Jobs auflisten (je Zeile,\n"
           "                                   durch Tabulatoren getrennt: Zeit des Laufs,\n"
           "                                   Version, Zustand); mit PFAD die Versionen einer\n"
           "                                   Datei (Zeit der Datei, Version, Größe in Bytes,\n"
           "                                   \"gleich\" oder \"abweichend\" gegenüber der Datei\n"
           "                                   am Originalort)\n"
           "  QV_Backup [--ini DATEI] --restore JOB [--version VERSION] PFAD [PFAD ...]\n"
           "            [--to VERZ] [--overwrite] [--preview]\n"
           "                                   Dateien und Verzeichnisse aus der Sicherung\n"
           "                                   zurückholen; PFAD ist der Originalpfad in einem\n"
           "                                   Quellverzeichnis des Jobs, VERSION eine Version\n"
           "                                   wie --versions sie nennt (\"täglich/d_02\", \".\"\n"
           "                                   für das Ziel selbst); ohne --version die neueste\n"
           "                                   Version, die PFAD enthält\n"
           "\n"
           "Optionen:\n"
           "  --ini DATEI         DATEI als INI-Datei des Programms verwenden\n"
           "  --source-root VERZ  Wurzel der Test-Quellverzeichnisse des Selbsttests\n"
           "  --dest-root VERZ    Wurzel des Test-Zielverzeichnisses des Selbsttests\n"
           "  --allow-mass-delete Löschen auch dann, wenn ein Lauf mehr als die Hälfte\n"
           "                      (und mehr als 50) der Dateien eines Zielverzeichnisses\n"
           "                      löschen würde; ohne diese Option wird das Löschen dann\n"
           "                      mit einer Warnung übersprungen\n"
           "  --preview           Vorschau: zeigt, was die Jobs kopieren, ersetzen und\n"
           "                      löschen würden (oder was --restore zurückholen würde),\n"
           "                      ohne etwas zu schreiben (auch nicht die letzte\n"
           "                      Sicherung); Rückgabewerte wie bei einem Lauf\n"
           "  --to VERZ           wiederherstellen nach VERZ statt an den Originalort; die\n"
           "                      Pfade unterhalb des Quellverzeichnisses bleiben erhalten\n"
           "  --overwrite         abweichende vorhandene Dateien beim Wiederherstellen\n"
           "                      ersetzen; ohne diese Option bleiben sie (mit einer\n"
           "                      Warnung) unverändert. Gelöscht wird nie etwas.\n"
           "  --unattended        unbeaufsichtigter Lauf: Fragen werden beantwortet wie bei\n"
           "                      automatischen Läufen (das gilt ohne Fenster immer; die\n"
           "                      Hintergrund-Timer geben die Option ausdrücklich an)\n"
           "\n"
           "Das Protokoll erscheint auf der Standardausgabe. Strg+C bricht eine laufende\n"
           "Sicherung ab.\n"
           "\n"
           "Rückgabewerte: 0 erfolgreich (Warnungen erlaubt), 1 Fehler, Abbruch oder\n"
           "Selbsttest fehlgeschlagen, 2 falscher Aufruf, unbekannter Job oder\n"
           "Einstellungen nicht lesbar.\n";
}

}  // namespace qvb
