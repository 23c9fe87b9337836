#!/usr/bin/env bash
# Makes the README's pictures again: docs/main-window*.png, docs/wizard*.png,
# docs/protocol.png, docs/restore.png, docs/overdue*.png and docs/history.png, taken of the Release program on a private Xvfb screen with
# a job and files of its own in a throw-away folder (never the user's settings).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh xdotool imagemagick >&2
# QVB_PROGRAM: a program built already (build/test/src/app/QV_Backup) instead.
program=${QVB_PROGRAM:-$PWD/build/release/src/app/QV_Backup}
if [ -z "${QVB_PROGRAM:-}" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVB_TESTS=OFF >/dev/null
  cmake --build build/release --target QV_Backup >/dev/null
fi
mkdir -p docs

work=$(mktemp -d /tmp/demo.XXXXXX)
# The destination on another file system than the source, so that the run
# does not stop to ask whether both on one drive is meant.
dest=$(mktemp -d /dev/shm/Sicherung.XXXXXX)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work" "$dest"
}
trap cleanup EXIT

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb WAYLAND_DISPLAY= LANG=C.UTF-8
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# A small picture collection to back up, and a job that mirrors it.
make_job() {
  local src="$HOME/Bilder"
  mkdir -p "$src/Urlaub 2026" "$src/Familie"
  for f in Strand Hafen Berge; do head -c 40000 /dev/urandom >"$src/Urlaub 2026/$f.jpg"; done
  for f in Geburtstag Hochzeit; do head -c 25000 /dev/urandom >"$src/Familie/$f.jpg"; done
  echo "Notizen" >"$src/liesmich.txt"
  cat >"$1" <<INI
[Options]
LastSrcDir=$src/
Logging=0
WinMainLeft=0
WinMainTop=0
WinMainWidth=820
WinMainHeight=700

[Job01]
Name=Bilder
Ziel=$dest/
AnzahlQuellen=1
Quelle0=$src/=1
Intervall=2
Startzeit=07.12.2026 20:00:00
Endzeit=07.12.2026 20:00:00
Wochentag=1
Aktiv=1
Löschen=1
Ausschliessen=*.tmp
NurDiese=
Verzeichnis überspringen=.cache
NurVerzeichnisInhalt=1
Zeitunterschied=2
INI
}

# Two earlier daily versions of the collection, as runs on the two days
# before would have left them: the older one with other holiday pictures.
make_versions() {
  local src="$HOME/Bilder" day
  for back in 2 1; do
    day=$(date -d "-$back day" +%d)
    mkdir -p "$dest/täglich/d_$day"
    cp -a "$src/." "$dest/täglich/d_$day/"
    versions="${versions:+$versions;}täglich/d_$day/|$(date -d "-$back day" +%d.%m.%Y) 20:00:0$back|ok"
  done
  head -c 38000 /dev/urandom >"$dest/täglich/d_$(date -d '-2 day' +%d)/Urlaub 2026/Strand.jpg"
  touch -d "-2 day" "$dest/täglich/d_$(date -d '-2 day' +%d)/Urlaub 2026/Strand.jpg"
  echo "Versionen=$versions" >>"$1"
}

start_screen() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$work/display" ] && return; sleep 0.1; done
  echo "Xvfb did not start" >&2
  exit 1
}

# The id of the newest window with this exact title, waiting up to ten seconds.
window_titled() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1) || true
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
  echo "no window \"$1\"" >&2
  exit 1
}

shoot() {
  sleep "${3:-1}"
  import -window "$1" "docs/$2.png"
  echo "docs/$2.png"
}

press() {
  xdotool windowfocus --sync "$1"
  xdotool key --clearmodifiers "$2"
}

start_screen
export DISPLAY=":$(cat "$work/display")"
# On a busy machine the screen may name itself before it takes connections.
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
make_job "$work/QV_Backup.ini"
versions=""
make_versions "$work/QV_Backup.ini"
"$program" --ini "$work/QV_Backup.ini" >"$work/window.log" 2>&1 &
app_pid=$!
main=$(window_titled "${QVB_MAIN_TITLE:-QV_Backup.*}")
shoot "$main" main-window
# The smallest size the window allows and the size of a first start: no caption is cut.
xdotool windowsize "$main" 445 620
shoot "$main" main-window-smallest
xdotool windowsize "$main" 600 620
shoot "$main" main-window-default
xdotool windowsize "$main" 820 700
press "$main" ctrl+b
sleep 3
# After the run the window shows the job again; "Protokoll" brings the run's protocol back.
press "$main" alt+p
shoot "$main" protocol
# The restore window on the oldest version, a holiday picture chosen and its versions shown.
press "$main" ctrl+w
restore=$(window_titled "Wiederherstellen aus .*")
xdotool windowsize "$restore" 900 640
sleep 1
press "$restore" End
xdotool key --clearmodifiers Tab Tab Down Down Right Down Down Down
xdotool key --clearmodifiers alt+v
shoot "$restore" restore
press "$restore" Escape
press "$main" ctrl+n
wizard=$(window_titled "${QVB_WIZARD_TITLE:-.*Assistent.*}")
shoot "$wizard" wizard
# The destination step: the folder picker opens at the last source folder
# (the option above), Enter takes it, and Enter goes on to the next step.
press "$wizard" Return
xdotool mousemove --window "$wizard" 138 80 click 1
picker=$(window_titled "Quellverzeichnis")
sleep 1
press "$picker" Return
sleep 1
press "$wizard" Return
sleep 1
xdotool type --delay 20 "$dest/"
shoot "$wizard" wizard-destination

# A second settings file: "Bilder" backed up yesterday, "Dokumente" failing
# for a week, so overdue. Its earlier runs are made by the program itself:
# one clean, one with a warning (a copy changed in the destination), one
# with errors (the documents' folder is gone).
# The wizard is open and the window would ask about it: no questions here.
kill -KILL "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
overdue="$work/Zuhause.ini"
cat >"$overdue" <<INI
[Options]
Logging=0
WinMainLeft=0
WinMainTop=0
WinMainWidth=820
WinMainHeight=700
CurrentJob=2

[Job01]
Name=Bilder
Ziel=$dest/Bilder/
AnzahlQuellen=1
Quelle0=$HOME/Bilder/=1
Intervall=2
Startzeit=07.12.2026 20:00:00
Endzeit=07.12.2026 20:00:00
Wochentag=1
Aktiv=1
Löschen=1
NurVerzeichnisInhalt=1
Zeitunterschied=2

[Job02]
Name=Dokumente
Ziel=$dest/Dokumente/
AnzahlQuellen=1
Quelle0=$HOME/Dokumente/=1
Intervall=2
Startzeit=07.12.2026 20:00:00
Endzeit=07.12.2026 20:00:00
Wochentag=1
Aktiv=1
Löschen=1
NurVerzeichnisInhalt=1
Zeitunterschied=2
INI
"$program" --ini "$overdue" --run Job01 >/dev/null || true
changed="$dest/Bilder/täglich/d_$(date +%d)/Urlaub 2026/Hafen.jpg"
head -c 1000 /dev/urandom >>"$changed"
touch -d "+1 hour" "$changed"
sleep 1
"$program" --ini "$overdue" --run Job01 >/dev/null || true
sleep 1
"$program" --ini "$overdue" --run Job02 >/dev/null || true
sleep 1
"$program" --ini "$overdue" --run Job01 >/dev/null || true
# The documents' last clean run a week back (the failed run above moved
# only "LetztesBackup").
sed -i "/^\[Job02\]/a LetzterFehlerfreierLauf=$(date -d '-7 day' +%d.%m.%Y) 20:00:00" "$overdue"
"$program" --ini "$overdue" >"$work/window2.log" 2>&1 &
app_pid=$!
main=$(window_titled "${QVB_MAIN_TITLE:-QV_Backup.*}")
shoot "$main" overdue
# The run with errors, asked for as a notification's action does: a second
# start on the same settings hands it to the open window.
failed=$("$program" --ini "$overdue" --history Job02 | tail -1 | cut -f9)
"$program" --ini "$overdue" --show-protocol "$failed"
history=$(window_titled "Frühere Protokolle")
xdotool windowsize "$history" 900 620
shoot "$history" history
