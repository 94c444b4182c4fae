#!/usr/bin/env bash
# demo.sh: the main job on the sample shop database. Makes the sample with the native tool,
# registers our engine in the project's Wine prefix, and runs Brimvale.exe under Wine on a
# fresh copy with a typical UPDATE as its two command-line arguments.
#  - With a display (DISPLAY set) the window is yours: press "Run SQL Query", answer the box
#    and close the window; the changed rows are shown afterwards.
#  - Without one, the run happens on a private Xvfb: demo_driver.exe clicks the button, saves
#    build/demo/main-window.png and build/demo/records-message.png, prints the message and
#    closes the program.
# BV_DEMO_SQL overrides the statement (then BV_DEMO_SHOW, a SELECT, names the rows to show).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
# Without a display the whole run, the engine's registration included, happens on one Xvfb
# (Wine's processes keep the display they were started with).
if [ -z "${DISPLAY:-}" ]; then
  export BV_DEMO_HEADLESS=1
  exec bash "$root/scripts/with-display.sh" bash "$0" "$@"
fi
tool="$root/build/native/bin/brimvale"
exe="$root/build/win/bin/Brimvale.exe"
driver="$root/build/win/bin/demo_driver.exe"
out="$root/build/demo"
sql="${BV_DEMO_SQL:-UPDATE Products SET Price = Price * 1.1 WHERE Category = 'Tea'}"
show="${BV_DEMO_SHOW:-SELECT ProductID, Name, Category, Price FROM Products WHERE Category = 'Tea'}"

for f in "$tool" "$exe" "$root/build/win/bin/daoengine.dll"; do
  [ -f "$f" ] || { echo "demo: $f is missing (run make build)" >&2; exit 1; }
done

sample="$root/build/native/sample/shop.mdb"
if [ ! -f "$sample" ]; then
  mkdir -p "$(dirname "$sample")"
  "$tool" sample "$sample"
fi

rm -rf "$out"
mkdir -p "$out"
db="$out/shop.mdb"
cp "$sample" "$db"
chmod u+w "$db"

echo "== The sample shop database ($db)"
"$tool" tables "$db" | sed 's/^/   /'
echo "== The rows before"
"$tool" query "$db" "$show"

source "$root/scripts/wine-env.sh"
if ! bv_wine_runs; then
  echo "demo: Wine cannot start 32-bit programs on this machine (\`wine --version\` fails or says wine32 is missing), so Brimvale.exe cannot run here" >&2
  exit 1
fi
bash "$root/scripts/register-engine.sh"

echo "== Brimvale.exe \"$db\" \"$sql\""
if [ -z "${BV_DEMO_HEADLESS:-}" ]; then
  echo "   Press \"Run SQL Query\", answer the message box, then close the window."
  windb="$(wine winepath -w "$db" 2>/dev/null | tr -d '\r')"
  wine "$exe" "$windb" "$sql" </dev/null || true
else
  [ -f "$driver" ] || { echo "demo: $driver is missing (run make build)" >&2; exit 1; }
  status=0
  wine "$driver" "$out" "$db" "$sql" </dev/null || status=$?
  # This prefix's Wine processes are bound to the Xvfb that goes away with this run.
  wineserver -k </dev/null >/dev/null 2>&1 || true
  for bmp in "$out"/*.bmp; do
    if [ -f "$bmp" ]; then convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"; fi
  done
  [ "$status" -eq 0 ] || { echo "demo: the run did not succeed (status $status)" >&2; exit "$status"; }
  echo "== Screenshots"
  ls "$out"/*.png | sed 's/^/   /'
fi

echo "== The rows after"
"$tool" query "$db" "$show"
echo "== Integrity check of the changed file"
"$tool" check "$db"
