#!/usr/bin/env bash
# The real `parcelo` program end to end under a virtual X display: it starts with an archive on
# its command line (as a file manager's "Open with" starts it), is driven by mouse clicks and keys
# from outside with xdotool through its three pages, extracts into a new folder below a scratch
# home directory, and the extracted files are compared with the originals. Each page is captured
# as a PNG (into SCREENSHOT_DIR when set). A second session is driven by keys alone: a path typed
# into the archive box gets its folder name, the folder is chosen in the tree with the arrow keys,
# Enter unzips an archive of which one member cannot be extracted (the page says how many of how
# many), and an archive of which nothing can be extracted keeps the person on page 2 with no folder
# left behind. Usage: wizard_e2e.sh PATH/TO/parcelo
set -euo pipefail
parcelo=$(realpath "$1")
for tool in xvfb-run xdotool import zip cmp python3; do
  command -v "$tool" >/dev/null || { echo "wizard_e2e: $tool is missing" >&2; exit 77; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/parcelo-e2e-XXXXXX")
trap 'rm -rf "$work"' EXIT
shots=${SCREENSHOT_DIR:-$work/shots}
mkdir -p "$shots" "$work/home/Unpacked" "$work/src/photos"

# The archive: a few files of different kinds, deflated by Info-ZIP's zip.
printf 'Quarterly report\n%.0s' $(seq 200) >"$work/src/report.txt"
head -c 300000 /dev/urandom >"$work/src/photos/beach.raw"
printf 'a list\n' >"$work/src/photos/list of photos.txt"
(cd "$work/src" && zip -q -r -X "$work/home/Holiday photos.zip" .)
# Archives with members packed by a method nobody knows (99): one among readable ones, and one
# alone. The method field is patched in the local and the central header.
python3 - "$work/home" <<'PY'
import struct, sys, zipfile
home = sys.argv[1]
def make(name, members):
    path = f"{home}/{name}"
    with zipfile.ZipFile(path, "w") as z:
        for member, data in members:
            z.writestr(member, data)
    raw = bytearray(open(path, "rb").read())
    for signature, offset in ((b"PK\x03\x04", 8), (b"PK\x01\x02", 10)):
        at = raw.find(signature)
        while at >= 0:
            name_length = struct.unpack_from("<H", raw, at + (26 if offset == 8 else 28))[0]
            start = at + (30 if offset == 8 else 46)
            if raw[start:start + name_length].decode().endswith("future.bin"):
                struct.pack_into("<H", raw, at + offset, 99)
            at = raw.find(signature, at + 4)
    open(path, "wb").write(raw)
make("Resume and notes.zip", [("Résumé.txt", "CV\n"), ("naïve façade.txt", "text\n"),
                               ("later/future.bin", "from the future")])
make("Only the future.zip", [("future.bin", "from the future")])
PY

cat >"$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
fail() { echo "wizard_e2e: $*" >&2; exit 1; }
HOME=$work/home "$parcelo" "$work/home/Holiday photos.zip" &
pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Parcelo$' | head -1)
[ -n "$wid" ] || fail "no window"
# Waits until the window has the given client height (the page switches change it).
wait_height() {
  for _ in $(seq 100); do
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    [ "$HEIGHT" = "$1" ] && return 0
    sleep 0.1
  done
  fail "the window never became $1 pixels high (it is $HEIGHT)"
}
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; sleep 0.3; }
shot() { sleep 0.6; import -window "$wid" "$shots/$1.png"; }

wait_height 511
sleep 1  # the archive named on the command line is taken up once the loop runs
shot wizard-page1
click 484 124                      # Continue
wait_height 300
click 45 35                        # open "(C:) Home" in the folder tree
click 110 53                       # its first folder, "Unpacked": "Selected Directory" follows
click 260 154                      # "Destination Folder Name" (holds "Holiday photos")
xdotool key --window "$wid" End
xdotool type --window "$wid" --delay 20 ' 2024'
shot wizard-page2
click 488 276                      # Unzip
wait_height 129
shot wizard-page3
click 484 112                      # Close
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after Close"
wait "$pid" || fail "the program ended with an error"

# ---- the second session: keys only, honest endings
mkdir -p "$work/home/Documents"   # "Unpacked" is the second folder now
HOME=$work/home "$parcelo" &
pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Parcelo$' | head -1)
[ -n "$wid" ] || fail "no window in the second session"
wait_height 511
key() { xdotool key --delay 80 "$@"; sleep 0.3; }  # to the window that has the focus
# The whole screen around the window, with a message box over it when one is open.
shot_screen() {
  sleep 0.8
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  import -window root -crop "640x420+$((X + 268 - 320))+$((Y - 60))" +repage "$shots/$1.png"
}
xdotool windowfocus --sync "$wid" 2>/dev/null || true
click 160 114                      # into the archive box
key ctrl+a BackSpace
xdotool type --window "$wid" --delay 20 "$work/home/Resume and notes.zip"
shot wizard-typed-path
key Return                         # Enter in the path box is Continue
wait_height 300
key Right Down Down                # the tree: open the home drive, down to "Unpacked"
shot wizard-tree-keyboard
key Tab Return                     # to the proposed folder name; Enter unzips
shot_screen wizard-partial-box
key Return                         # OK in the message box
wait_height 129
shot wizard-partial-result
key Tab Return                     # Another?
wait_height 146
click 160 114
key ctrl+a BackSpace
xdotool type --window "$wid" --delay 20 "$work/home/Only the future.zip"
key Return
wait_height 300
xdotool mousemove --window "$wid" 488 276 click 1  # Unzip, into the home folder
shot_screen wizard-nothing-extracted
key Return                         # OK: the page stays for another try
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ "$HEIGHT" = 300 ] || fail "a run that extracted nothing left page 2 (height $HEIGHT)"
key Escape                         # Esc on page 2 is Go Back
wait_height 146
kill "$pid"                         # page 1 has no Close: the program is ended from outside
wait "$pid" 2>/dev/null || true
DRIVE
chmod +x "$work/drive.sh"
# Under LeakSanitizer, leaks inside the desktop's own libraries are not the program's.
export LSAN_OPTIONS="suppressions=$(dirname "$(realpath "$0")")/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export work parcelo shots
xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh"

out="$work/home/Unpacked/Holiday photos 2024"
for f in report.txt "photos/beach.raw" "photos/list of photos.txt"; do
  cmp "$work/src/$f" "$out/$f" || { echo "wizard_e2e: $f differs or is missing" >&2; exit 1; }
done
# The keys-only session: the typed archive's folder name proposed, the folder chosen with arrow keys.
keyed="$work/home/Unpacked/Resume and notes"
[ "$(cat "$keyed/Résumé.txt")" = CV ] || { echo "wizard_e2e: Résumé.txt is not in $keyed" >&2; exit 1; }
[ -f "$keyed/naïve façade.txt" ] || { echo "wizard_e2e: naïve façade.txt is missing" >&2; exit 1; }
[ ! -e "$keyed/later" ] || { echo "wizard_e2e: an empty folder stayed for the refused member" >&2; exit 1; }
[ ! -e "$work/home/Only the future" ] || { echo "wizard_e2e: a folder stayed after a run that extracted nothing" >&2; exit 1; }
echo "wizard_e2e: extracted and compared 3 files; keys-only session checked; screenshots in $shots"
