#include "app/CommandLine.h"

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
    return std::nullopt;
}

bool takesValue(const std::string& arg) {
    return arg == "--ini" || arg == "--source-root" || arg == "--dest-root";
}

bool isOption(const std::string& arg) {
    return commandOf(arg) || takesValue(arg) || arg == "--allow-mass-delete" || arg == "--preview" ||
           arg == "--unattended";
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
    bool iniGiven = false, sourceGiven = false, destGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (auto c = commandOf(arg)) {
            if (command)
                return failure(
                    "Es ist nur einer der Befehle --help, --version, --list, "
                    "--run, --selftest, --timers und --history erlaubt.");
            command = c;
            if (*c == TCommand::Run) {
                while (i + 1 < args.size() && !isOption(args[i + 1]))
                    result.line.jobs.push_back(args[++i]);
                if (result.line.jobs.empty())
                    return failure("Die Option --run erwartet mindestens einen Job.");
            } else if (*c == TCommand::History && i + 1 < args.size() && !isOption(args[i + 1])) {
                result.line.jobs.push_back(args[++i]);
            }
        } else if (arg == "--allow-mass-delete") {
            result.line.allowMassDelete = true;
        } else if (arg == "--preview") {
            result.line.preview = true;
        } else if (arg == "--unattended") {
            result.line.unattended = true;
        } else if (takesValue(arg)) {
            bool& given = arg == "--ini"           ? iniGiven
                          : arg == "--source-root" ? sourceGiven
                                                   : destGiven;
            if (given) return failure("Die Option " + arg + " ist mehrfach angegeben.");
            if (i + 1 >= args.size() || isOption(args[i + 1]) || args[i + 1].empty())
                return failure("Die Option " + arg + " erwartet einen Pfad.");
            given = true;
            std::string& target = arg == "--ini"           ? result.line.iniFile
                                  : arg == "--source-root" ? result.line.sourceRoot
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
            "--timers oder --history.");
    if (result.line.allowMassDelete && c != TCommand::Run)
        return failure("Die Option --allow-mass-delete gilt nur mit --run.");
    if (result.line.preview && c != TCommand::Run)
        return failure("Die Option --preview gilt nur mit --run.");
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
           "                      löschen würden, ohne etwas zu schreiben (auch nicht\n"
           "                      die letzte Sicherung); Rückgabewerte wie bei einem Lauf\n"
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
