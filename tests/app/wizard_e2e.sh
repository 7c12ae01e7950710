#!/usr/bin/env bash
# The real `parcelo` program end to end under a virtual X display: it starts with an archive on
# its command line (as a file manager's "Open with" starts it), is driven by mouse clicks and keys
# from outside with xdotool through its three pages, extracts into a new folder below a scratch
# home directory, and the extracted files are compared with the originals. Each page is captured
# as a PNG (into SCREENSHOT_DIR when set). Usage: wizard_e2e.sh PATH/TO/parcelo
set -euo pipefail
parcelo=$(realpath "$1")
for tool in xvfb-run xdotool import zip cmp; do
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
echo "wizard_e2e: extracted and compared 3 files; screenshots in $shots"
