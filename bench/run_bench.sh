#!/usr/bin/env bash
# Mix benchmark: renders a 16-track, 60-second workload with corvale ("plain":
# every channel at 0 dB, pan 0, also through four submixes with and without
# "stems on"; "fx": plus a high-pass, a peaking band and an RMS
# compressor per channel), checks that the plain mix is the exact sum of the
# tracks, and times the tools a user might pick instead on the same files.
# The corvale rows run with the loudness meter on (its default); the same mixes
# are timed with "loudness off" and with "truepeak on" to show what the meter
# and its true peak cost.
#
# Usage: bench/run_bench.sh [BUILD_DIR]   (RUNS=n sets the runs per row, default 5;
#        NO_INSTALL=1 skips installing the peers from the system packages)
# Prints figures only; it never fails on slow results.
set -u
cd "$(dirname "$0")/.."
BUILD=${1:-build}
RUNS=${RUNS:-5}
SECONDS_LONG=60

cmake --build "$BUILD" --target corvale make_workload >/dev/null || { echo "build failed"; exit 1; }
BIN=$(cd "$BUILD" && pwd)
TOOL="$BIN/make_workload"
WORK="$BIN/bench_work"
"$TOOL" gen "$WORK" "$SECONDS_LONG" || exit 1

# Peers, installed from the system packages when missing and possible.
declare -A PKG=([sox]=sox [ecasound]=ecasound [ffmpeg]=ffmpeg)
missing=()
for tool in sox ecasound ffmpeg; do command -v "$tool" >/dev/null || missing+=("${PKG[$tool]}"); done
if [ ${#missing[@]} -gt 0 ] && [ "${NO_INSTALL:-0}" != 1 ] && command -v apt-get >/dev/null; then
    SUDO=""
    [ "$(id -u)" != 0 ] && command -v sudo >/dev/null && SUDO="sudo -n"
    echo "installing peers: ${missing[*]}"
    $SUDO apt-get update -qq >/dev/null 2>&1
    for p in "${missing[@]}"; do
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$p" >/dev/null 2>&1 ||
            echo "could not install $p: skipped"
    done
fi

cd "$WORK"
TRACKS=$(ls t[0-9][0-9].wav | sort)
INPUT_BYTES=$(cat $TRACKS | wc -c)
cat $TRACKS >/dev/null  # warm the page cache

ROWS=()   # "label|kind|wall cpu peak_kb failures"
run() {   # run LABEL KIND CMD...
    local label=$1 kind=$2
    shift 2
    local r
    r=$("$TOOL" time "$RUNS" "$@")
    ROWS+=("$label|$kind|$r")
    printf '  %-34s %s\n' "$label" "$r"
}

# The same preferences with the meter off, and with true peak on.
for mix in plain fx; do
    sed 's/^end$/loudness\toff\nend/' "prefs_$mix.txt" >"prefs_${mix}_off.txt"
    sed 's/^end$/truepeak\ton\nend/' "prefs_$mix.txt" >"prefs_${mix}_tp.txt"
done
# The plain mix through four submixes of four tracks, without and with stems.
sed 's/^t\t0\t0\t0$/sub\t1\t1,2,3,4\nsub\t2\t5,6,7,8\nsub\t3\t9,10,11,12\nsub\t4\t13,14,15,16\nt\t0\t0\t0/' \
    plain.txt >subs.txt
sed 's/plain_mix/subs_mix/' prefs_plain.txt >prefs_subs.txt
sed 's/plain_mix/stems_mix/; s/^end$/stems\ton\nend/' prefs_plain.txt >prefs_stems.txt

echo "timing $RUNS runs per row (median wall and CPU seconds, peak KB, failed runs):"
run "page-cache floor (cat)" floor cat $TRACKS
run "corvale plain" ours-plain "$BIN/corvale" tracks.txt plain.txt prefs_plain.txt
run "corvale plain, loudness off" ours-plain-off "$BIN/corvale" tracks.txt plain.txt prefs_plain_off.txt
run "corvale plain, truepeak on" ours-plain-tp "$BIN/corvale" tracks.txt plain.txt prefs_plain_tp.txt
run "corvale plain, 4 submixes" ours-subs "$BIN/corvale" tracks.txt subs.txt prefs_subs.txt
run "corvale plain, 4 subs, stems on" ours-stems "$BIN/corvale" tracks.txt subs.txt prefs_stems.txt
run "corvale fx" ours-fx "$BIN/corvale" tracks.txt fx.txt prefs_fx.txt
run "corvale fx, loudness off" ours-fx-off "$BIN/corvale" tracks.txt fx.txt prefs_fx_off.txt
run "corvale fx, truepeak on" ours-fx-tp "$BIN/corvale" tracks.txt fx.txt prefs_fx_tp.txt
echo
"$TOOL" check "$WORK" plain_mix.wav
printf '  %-12s ' stems_mix.wav && "$TOOL" check "$WORK" stems_mix.wav
echo

if command -v sox >/dev/null; then
    args=(); for t in $TRACKS; do args+=(-v 1 "$t"); done
    run "sox -m" peer-plain sox -D -m "${args[@]}" -b 24 peer_sox.wav
fi
if command -v ecasound >/dev/null; then
    args=(); fx=(); i=1
    for t in $TRACKS; do
        args+=("-a:$i" "-i:$t")
        fx+=("-a:$i" "-i:$t" -efh:40 -eca:69,0.5,0.25,0.5)
        i=$((i + 1))
    done
    run "ecasound mixmode sum" peer-plain ecasound -q -z:mixmode,sum "${args[@]}" -a:all -f:s24_le,2,48000 -o:peer_eca.wav
    run "ecasound + hp, comp (no band)" peer-fx ecasound -q -z:mixmode,sum "${fx[@]}" -a:all -f:s24_le,2,48000 -o:peer_eca_fx.wav
fi
if command -v ffmpeg >/dev/null; then
    args=(); graph=""; labels=""; i=0
    for t in $TRACKS; do
        args+=(-i "$t")
        graph+="[$i:a]highpass=f=40,equalizer=f=1000:t=q:w=1:g=3,acompressor=threshold=0.063:ratio=3:attack=10:release=150[a$i];"
        labels+="[a$i]"
        i=$((i + 1))
    done
    run "ffmpeg amix" peer-plain ffmpeg -nostdin -v error -y "${args[@]}" -filter_complex "amix=inputs=16:normalize=0" -c:a pcm_s24le peer_ff.wav
    run "ffmpeg + hp, band, comp" peer-fx ffmpeg -nostdin -v error -y "${args[@]}" -filter_complex "${graph}${labels}amix=inputs=16:normalize=0" -c:a pcm_s24le peer_ff_fx.wav
fi
for f in peer_sox.wav peer_eca.wav peer_ff.wav; do
    [ -f "$f" ] && printf '  %-12s ' "$f" && "$TOOL" check "$WORK" "$f"
done
echo

# Peak memory against the render length: the same tracks rendered for 5 s and 30 s.
for len in 5 30; do
    printf 'begin\nverbo\t0\ndither\t0\noname\tpreview\npre\ton\nstart\t0\t0\t0\nlength\t%s\nend\n' "$len" >prefs_len$len.txt
done
short=$("$TOOL" time "$RUNS" "$BIN/corvale" tracks.txt plain.txt prefs_len5.txt)
half=$("$TOOL" time "$RUNS" "$BIN/corvale" tracks.txt plain.txt prefs_len30.txt)

printf '%s\n' "${ROWS[@]}" | awk -F'|' -v bytes="$INPUT_BYTES" -v secs="$SECONDS_LONG" -v short="$short" -v half="$half" '
{
    split($3, v, " ")
    label[NR] = $1; kind[NR] = $2; wall[NR] = v[1]; cpu[NR] = v[2]; kb[NR] = v[3]; bad[NR] = v[4]
    if ($2 == "ours-plain") plain = v[1]
    if ($2 == "ours-fx") fxw = v[1]
    if ($2 == "ours-plain") plainKb = v[3]
    if ($2 == "ours-plain") plainCpu = v[2]
    if ($2 == "ours-fx") fxCpu = v[2]
    if ($2 == "floor") floorw = v[1]
    if ($2 == "ours-plain-off") plainOff = v[1]
    if ($2 == "ours-fx-off") fxOff = v[1]
    if ($2 == "ours-plain-tp") plainTp = v[1]
    if ($2 == "ours-fx-tp") fxTp = v[1]
    if ($2 == "ours-subs") subs = v[1]
    if ($2 == "ours-stems") { stems = v[1]; stemsKb = v[3] }
}
END {
    printf "%-34s %8s %8s %9s %8s %9s %11s\n", "workload: 16 x " secs " s, 48 kHz 24-bit stereo", "wall s", "cpu s", "peak MB", "x real", "in MB/s", "peer/ours"
    for (i = 1; i <= NR; ++i) {
        ratio = "-"
        if (kind[i] == "peer-plain" && plain > 0) ratio = sprintf("%.2f", wall[i] / plain)
        if (kind[i] == "peer-fx" && fxw > 0) ratio = sprintf("%.2f", wall[i] / fxw)
        note = ""
        if (bad[i] > 0) {
            # a run that failed says nothing about speed: the row is shown, not compared
            note = "  (" bad[i] " failed runs, not compared)"
            ratio = "-"
        }
        printf "%-34s %8.3f %8.3f %9.1f %8.1f %9.0f %11s%s\n", label[i], wall[i], cpu[i], kb[i] / 1024, secs / wall[i], bytes / 1e6 / wall[i], ratio, note
        if (bad[i] > 0) continue
        if (kind[i] == "peer-plain" && (best == "" || wall[i] < best)) best = wall[i]
        if (kind[i] == "peer-fx" && (bestfx == "" || wall[i] < bestfx)) bestfx = wall[i]
        if (kind[i] == "peer-plain" && (bestcpu == "" || cpu[i] < bestcpu)) bestcpu = cpu[i]
        if (kind[i] == "peer-fx" && (bestfxcpu == "" || cpu[i] < bestfxcpu)) bestfxcpu = cpu[i]
    }
    print ""
    if (best != "") printf "plain: %.2f x faster than the fastest peer (target 3)\n", best / plain
    if (bestfx != "") printf "fx:    %.2f x faster than the fastest single-process peer with effects (target 2)\n", bestfx / fxw
    print  "       (sox applies effects to a mixed input only through one sub-process per track, so it has no fx row)"
    if (bestcpu != "" && plainCpu > 0) printf "by CPU time: plain %.2f x, fx %.2f x\n", bestcpu / plainCpu, (bestfxcpu != "" && fxCpu > 0) ? bestfxcpu / fxCpu : 0
    if (floorw > 0) printf "plain: %.2f x the page-cache floor (%.3f s)\n", plain / floorw, floorw
    if (plainOff > 0 && fxOff > 0)
        printf "loudness meter (default, true peak off), wall against loudness off: plain %+.1f%% (%.3f s before), fx %+.1f%% (%.3f s before); target at most +10%%\n", 100 * (plain / plainOff - 1), plainOff, 100 * (fxw / fxOff - 1), fxOff
    if (plainTp > 0 && fxTp > 0)
        printf "truepeak on, wall against loudness off: plain %+.1f%% (%.3f s), fx %+.1f%% (%.3f s)\n", 100 * (plainTp / plainOff - 1), plainTp, 100 * (fxTp / fxOff - 1), fxTp
    if (subs > 0 && stems > 0)
        printf "stems on (4 stem files beside the mix), wall against the same submixes without stems: %+.1f%% (%.3f s before, %.1f MB peak)\n", 100 * (stems / subs - 1), subs, stemsKb / 1024
    split(short, s, " ")
    split(half, h, " ")
    printf "peak memory of the plain mix rendering 5 s, 30 s and 60 s: %.1f, %.1f and %.1f MB\n", s[3] / 1024, h[3] / 1024, plainKb / 1024
}'
