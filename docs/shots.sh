#!/usr/bin/env bash
# Takes the pictures of the README on a virtual 1366x768 screen with a window
# manager, as a user sees them: docs/main-window.png (the demo's settings,
# before a run), docs/progress-window.png (mid-download), docs/result-window.png
# (after a serial download, with its summary line), docs/log-window.png and
# docs/result-window-cancelled.png (a second download cancelled while it
# programs controller 3) and docs/history-window.png (the History window over
# the results database those two runs wrote). The line is the built-in one plus a silent
# controller 9, so the result shows a failure beside the good rows.
# VANTOREL_BUILD_DIR names a build folder to take the programs from instead of
# building. Needs: xvfb xauth openbox.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${VANTOREL_BUILD_DIR:-$(scripts/build | tail -n 1)}
bin="$PWD/$dir/src"
docs="$PWD/docs"
# A fixed folder, so the file name in the picture reads well.
work=/tmp/vantorel-demo
mkdir -p "$work"
export VANTOREL_HOME="$work"

sim_pid=""
finish() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$work"/{sample.hex,line.json,Flash.cfg,Log.txt,Log.old.txt,Vantorel.ini,Results.db,Results-pending.jsonl,linesim.out,linesim.err}
  rmdir "$work" 2>/dev/null || true
}
trap finish EXIT
# The History window shows this series' two runs only.
rm -f "$work"/{Results.db,Results-pending.jsonl}
trap 'exit 130' INT
trap 'exit 143' TERM HUP

"$bin/vantorel-linesim" --write-sample-image "$work/sample.hex"
cat >"$work/line.json" <<'EOF'
{ "controllers": [
  { "number": 0, "speed": 9600, "protocolChar": "0x04", "version": "01/02/03" },
  { "number": 3, "speed": 19200, "protocolChar": "0x04", "version": "01/02/03" },
  { "number": 5, "speed": 38400, "protocolChar": "0x04", "version": "01/01/09" },
  { "number": 7, "speed": 4800, "protocolChar": "0x04", "version": "01/00/07" },
  { "number": 9, "protocolChar": "0x04", "faults": { "silent": true } }
] }
EOF

# Time Out 200 ms only shortens the speed search; the pictures are the same.
{
  printf '200\r\n\r\n9600\r\n'
  for i in $(seq 0 31); do
    case $i in 0|3|5|7|9) printf ' 1 \r\n' ;; *) printf ' 0 \r\n' ;; esac
  done
  printf '100\r\n3\r\n 0 \r\n 0 \r\n 0 \r\n'
} >"$work/Flash.cfg"

setsid "$bin/vantorel-linesim" --config "$work/line.json" >"$work/linesim.out" 2>"$work/linesim.err" &
sim_pid=$!
port=""
for _ in $(seq 100); do # its first line comes at once; ten seconds guard a failed start
  port=$(head -n 1 "$work/linesim.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/linesim.err" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "the simulated line did not start" >&2; exit 1; }

echo "Downloading on the simulated line (about three minutes) ..."
# The window manager takes over the screen well within the second the tool
# waits before its first picture.
xvfb-run -a -s "-screen 0 1366x768x24" sh -c '
  openbox >/dev/null 2>&1 &
  wm=$!
  "$1" --port "$2" --file "$3" --shots "$4"
  status=$?
  kill $wm
  exit $status' sh "$bin/vantorel" "$port" "$work/sample.hex" "$docs"
for f in main-window progress-window result-window log-window result-window-cancelled history-window; do echo "docs/$f.png"; done
