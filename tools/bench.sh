#!/usr/bin/env bash
# make bench: runs every benchmark program under Wine and gathers their figures
# into build/bench/report.md, one table per area, each figure beside its
# baseline from the same run, plus a plot of update time against tree size.
# A benchmark program that fails (non-zero exit) fails the run, after the
# report of every figure that was gathered has been written.
set -uo pipefail
build=$(realpath "${1:-build}")
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
out="$build/bench"
raw="$out/figures.txt"
mkdir -p "$out"
: > "$raw"
failed=()

for program in "$build"/bin/*_bench.exe; do
  [ -e "$program" ] || continue
  name=$(basename "$program" .exe)
  echo "running $name" >&2
  args=()
  [ "$name" = update_bench ] && args=(1000 5000 20000)
  # pipefail: the status is wine's (the program's exit code) unless the copy fails.
  if ! wine "$program" "${args[@]}" 2>&1 | tr -d '\r' >> "$raw"; then
    echo "bench: $name failed" >&2
    failed+=("$name")
  fi
done

# The host's own floor for the file-tree figures: cp -r and rm -r of the same
# tree shape (2,000 files of 1 KiB in 200 folders) on the Linux file system.
tree=$(mktemp -d)
for d in $(seq 0 199); do
  mkdir -p "$tree/src/d$d"
  for f in $(seq 0 9); do head -c 1024 /dev/zero > "$tree/src/d$d/f$f"; done
done
t0=$(date +%s.%N); cp -r "$tree/src" "$tree/copy"; t1=$(date +%s.%N); rm -r "$tree/copy"; t2=$(date +%s.%N)
printf 'bench: files | host cp -r, 2000 files | %.3f | ms | \n' "$(echo "($t1-$t0)*1000" | bc -l)" >> "$raw"
printf 'bench: files | host rm -r, 2000 files | %.3f | ms | \n' "$(echo "($t2-$t1)*1000" | bc -l)" >> "$raw"
rm -rf "$tree"

python3 - "$raw" "$out" <<'PY'
import collections, subprocess, sys, os
raw, out = sys.argv[1], sys.argv[2]
figures = collections.OrderedDict()
for line in open(raw, encoding='utf-8', errors='replace'):
    if not line.startswith('bench: '):
        continue
    parts = [p.strip() for p in line[len('bench: '):].split('|')]
    while len(parts) < 5:
        parts.append('')
    area, name, value, unit, baseline = parts[:5]
    try:
        value = float(value)
    except ValueError:
        continue
    figures.setdefault(area, collections.OrderedDict())[name] = (value, unit, baseline)
lines = ['# Benchmark report', '',
         'Every figure is from one run of `make bench` under Wine on this machine; a',
         'ratio is the figure divided by its baseline from the same run.', '']
for area, rows in figures.items():
    lines += ['## ' + area, '', '| figure | value | unit | baseline | ratio |', '|---|---:|---|---|---:|']
    def base_of(name, baseline):
        # The baseline figure: the one named so, else the one whose name starts
        # with it and carries the same ", <variant>" ending as this figure.
        if baseline in rows:
            return baseline
        candidates = [n for n in rows if n.startswith(baseline) and n != name]
        variant = name[name.rfind(','):] if ',' in name else None
        same = [n for n in candidates if variant and n.endswith(variant)]
        if len(same) == 1:
            return same[0]
        return candidates[0] if len(candidates) == 1 else None
    for name, (value, unit, baseline) in rows.items():
        ratio = ''
        base = base_of(name, baseline) if baseline else None
        if base and rows[base][0] > 0 and value >= 0:
            ratio = '%.2f' % (value / rows[base][0])
        lines.append('| %s | %.3f | %s | %s | %s |' % (name, value, unit, baseline, ratio))
    lines.append('')
# Update time against tree size.
update = figures.get('update', {})
series = collections.OrderedDict((k, []) for k in ('package mode', '7z x -aoa', 'staged mode whole run',
                                                  'staged mode to client start'))
for name, (value, unit, _) in update.items():
    for key in series:
        if name.startswith(key + ', ') and name.endswith(' files'):
            series[key].append((int(name[len(key) + 2:-6]), value))
data = os.path.join(out, 'update_times.dat')
with open(data, 'w') as f:
    for key, points in series.items():
        f.write('# %s\n' % key)
        for n, v in sorted(points):
            f.write('%d %f\n' % (n, v))
        f.write('\n\n')
png = os.path.join(out, 'update_times.png')
if any(series.values()):
    script = ('set terminal png size 800,500; set output "%s"; set logscale xy; '
              'set xlabel "files in the tree"; set ylabel "milliseconds"; set key left top; '
              'set title "Update time against tree size"; plot ' % png +
              ', '.join('"%s" index %d with linespoints title "%s"' % (data, i, k)
                        for i, k in enumerate(series)))
    if subprocess.run(['gnuplot', '-e', script]).returncode == 0:
        lines += ['![update time against tree size](update_times.png)', '']
open(os.path.join(out, 'report.md'), 'w').write('\n'.join(lines))
print('\n'.join(lines))
print('report: ' + os.path.join(out, 'report.md'))
PY
report_status=$?

if [ ${#failed[@]} -gt 0 ]; then
  echo "bench: failed: ${failed[*]} (their figures may be missing from the report)" >&2
  exit 1
fi
exit $report_status
