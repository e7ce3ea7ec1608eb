#!/usr/bin/env bash
# Takes the pictures of the README on a virtual screen: docs/main-window.png
# (the demo's settings, before a run) and docs/result-window.png (after a
# serial download). The line is the built-in one plus a silent controller 9,
# so the result shows a failure mark beside the good rows.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(scripts/build | tail -n 1)
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
  rm -f "$work"/{sample.hex,line.json,Flash.cfg,Log.txt,linesim.out,linesim.err}
  rmdir "$work" 2>/dev/null || true
}
trap finish EXIT
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

xvfb-run -a "$bin/vantorel" --port "$port" --file "$work/sample.hex" --screenshot "$docs/main-window.png"
echo "docs/main-window.png"
echo "Downloading on the simulated line (about two minutes) ..."
xvfb-run -a "$bin/vantorel" --port "$port" --file "$work/sample.hex" \
  --screenshot-after-download "$docs/result-window.png"
echo "docs/result-window.png"
