#!/usr/bin/env bash
# Soak: the program itself, headless, on a card served by tolvaren-sim, while the line's faults
# are switched on in turn (no-reply, late-reply, bad-crc, garbage, chunks, exception, hangup,
# each followed by none until the program has gathered a snapshot again). Every second it samples
# the memory of both programs and the snapshot cycles the card has served; at the end it prints
# a summary, with the longest recovery from each fault.
#
#   scripts/soak.sh [minutes (default 10)] [fault-period-seconds (default 5)]
#
# Exits 1 when the program got stuck (no snapshot gathered for 15 s of fault-free time) or
# ended by itself, 2 on bad arguments. Builds what it needs in build/ through setup.sh; set
# TOLVAREN_BUILD_DIR to use an existing build folder. The program runs with a settings folder
# and port list of its own, so neither the user's settings nor the machine's serial ports play a
# part. The logs are kept (their folder is printed) when the soak fails.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

MINUTES="${1:-10}"
PERIOD="${2:-5}"
if ! [[ "$MINUTES" =~ ^[0-9]+$ && "$MINUTES" -ge 1 && "$PERIOD" =~ ^[0-9]+$ &&
    "$PERIOD" -ge 1 ]]; then
    echo "usage: scripts/soak.sh [minutes >= 1] [fault-period-seconds >= 1]" >&2
    exit 2
fi

FAULTS=(no-reply late-reply bad-crc garbage chunks exception "hangup ms=2000")
SAMPLE_SECONDS=1
STUCK_SECONDS=15

if [[ -n "${TOLVAREN_BUILD_DIR:-}" ]]; then
    cmake --build "$TOLVAREN_BUILD_DIR" --target tolvaren-sim TolvarenDiagnostics
    BUILD_DIR="$TOLVAREN_BUILD_DIR"
else
    BUILD_DIR="$("$ROOT/scripts/setup.sh" tolvaren-sim TolvarenDiagnostics | tail -n 1)"
fi

SANDBOX="$(mktemp -d)"
mkdir -p "$SANDBOX/config" "$SANDBOX/sys" "$SANDBOX/dev"
SIM_PID=""
APP_PID=""
KEEP_LOGS=0
cleanup() {
    for pid in "$APP_PID" "$SIM_PID"; do
        if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    if ((KEEP_LOGS)); then
        echo "Logs kept in $SANDBOX"
    else
        rm -rf "$SANDBOX"
    fi
}
trap cleanup EXIT

"$BUILD_DIR/simulator/serve/tolvaren-sim" --link "$SANDBOX/card" --control "$SANDBOX/control" \
    >"$SANDBOX/sim.log" 2>&1 </dev/null &
SIM_PID=$!
for _ in $(seq 100); do
    grep -q '^TOLVAREN_EXTRA_SERIAL_PORTS=' "$SANDBOX/sim.log" && break
    sleep 0.1
done
if ! grep -q '^TOLVAREN_EXTRA_SERIAL_PORTS=' "$SANDBOX/sim.log"; then
    KEEP_LOGS=1
    echo "tolvaren-sim served no port" >&2
    exit 1
fi

env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$SANDBOX/config" \
    TOLVAREN_SYSFS_TTY="$SANDBOX/sys" TOLVAREN_DEV_DIR="$SANDBOX/dev" \
    TOLVAREN_EXTRA_SERIAL_PORTS="$SANDBOX/card" \
    "$BUILD_DIR/app/TolvarenDiagnostics" >"$SANDBOX/app.log" 2>&1 </dev/null &
APP_PID=$!

command_sim() {
    echo "$1" >"$SANDBOX/control"
}

# Asks the card for its counts and sets CYCLES and FAULTED from the answer.
STATS_SEEN=0
read_stats() {
    command_sim s
    local line=""
    for _ in $(seq 50); do
        local count
        count="$(grep -c '^Stats: ' "$SANDBOX/sim.log" || true)"
        if ((count > STATS_SEEN)); then
            STATS_SEEN=$count
            line="$(grep '^Stats: ' "$SANDBOX/sim.log" | tail -n 1)"
            break
        fi
        sleep 0.1
    done
    if [[ -z "$line" ]]; then
        return 1
    fi
    CYCLES="$(sed -E 's/.*snapshot cycles ([0-9]+).*/\1/' <<<"$line")"
    FAULTED="$(sed -E 's/.*faulted ([0-9]+).*/\1/' <<<"$line")"
}

rss_kb() {
    awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0
}

START=$(date +%s)
END=$((START + MINUTES * 60))
APP_RSS_START=""
SIM_RSS_START=""
APP_RSS_MAX=0
SIM_RSS_MAX=0
APP_RSS=0
SIM_RSS=0
CYCLES=0
FAULTED=0
LAST_CYCLES=0
STUCK_PERIODS=0
CRASHED=""
# Faults take turns with none. A fault lasts PERIOD seconds; none lasts at least PERIOD seconds
# and until a snapshot has been gathered, so that every fault is seen to be recovered from.
FAULT="none"
FAULT_BEFORE="start"
PHASE_START=$START
RECOVERED=0
IN_STUCK=0
NEXT_FAULT=0
SWITCHES=0
declare -A RECOVERY_MAX RECOVERY_COUNT
LAST_REPORT=$START

echo "Soak for $MINUTES min, a fault switched every $PERIOD s; logs in $SANDBOX"
while (($(date +%s) < END)); do
    sleep "$SAMPLE_SECONDS"
    NOW=$(date +%s)
    if ! kill -0 "$APP_PID" 2>/dev/null; then
        set +e
        wait "$APP_PID"
        CRASHED="the program ended (exit status $?) after $((NOW - START)) s"
        set -e
        APP_PID=""
        break
    fi
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
        CRASHED="tolvaren-sim ended after $((NOW - START)) s"
        SIM_PID=""
        break
    fi
    APP_RSS=$(rss_kb "$APP_PID")
    SIM_RSS=$(rss_kb "$SIM_PID")
    if [[ -z "$APP_RSS_START" ]]; then
        APP_RSS_START=$APP_RSS
        SIM_RSS_START=$SIM_RSS
    fi
    ((APP_RSS > APP_RSS_MAX)) && APP_RSS_MAX=$APP_RSS
    ((SIM_RSS > SIM_RSS_MAX)) && SIM_RSS_MAX=$SIM_RSS
    read_stats || echo "warning: no counts from tolvaren-sim at $((NOW - START)) s" >&2
    GATHERED=0
    if ((CYCLES > LAST_CYCLES)); then
        GATHERED=1
        LAST_CYCLES=$CYCLES
    fi

    if [[ "$FAULT" == "none" ]]; then
        if ((GATHERED && !RECOVERED)); then
            RECOVERED=1
            IN_STUCK=0
            TOOK=$((NOW - PHASE_START))
            if ((TOOK > ${RECOVERY_MAX[$FAULT_BEFORE]:-0})); then
                RECOVERY_MAX[$FAULT_BEFORE]=$TOOK
            fi
            RECOVERY_COUNT[$FAULT_BEFORE]=$((${RECOVERY_COUNT[$FAULT_BEFORE]:-0} + 1))
        fi
        # Stuck: no gathering through STUCK_SECONDS without a fault on. It stays on none
        # meanwhile, and counts once until the program gathers again.
        if ((!RECOVERED && NOW - PHASE_START >= STUCK_SECONDS && !IN_STUCK)); then
            IN_STUCK=1
            STUCK_PERIODS=$((STUCK_PERIODS + 1))
            echo "STUCK: no snapshot for $((NOW - PHASE_START)) s without a fault, after" \
                "$FAULT_BEFORE (at $((NOW - START)) s)"
        fi
        if ((RECOVERED && NOW - PHASE_START >= PERIOD)); then
            FAULT="${FAULTS[$NEXT_FAULT]}"
            NEXT_FAULT=$(((NEXT_FAULT + 1) % ${#FAULTS[@]}))
            SWITCHES=$((SWITCHES + 1))
            command_sim "f $FAULT"
            PHASE_START=$NOW
        fi
    elif ((NOW - PHASE_START >= PERIOD)); then
        FAULT_BEFORE="${FAULT%% *}"
        FAULT="none"
        RECOVERED=0
        command_sim "f none"
        PHASE_START=$NOW
    fi
    if ((NOW - LAST_REPORT >= 60)); then
        echo "$((NOW - START)) s: $((CYCLES)) snapshots, program ${APP_RSS} kB," \
            "tolvaren-sim ${SIM_RSS} kB, fault $FAULT"
        LAST_REPORT=$NOW
    fi
done
command_sim "f none" 2>/dev/null || true
DURATION=$(($(date +%s) - START))

echo
echo "Soak summary"
echo "  duration:         $DURATION s (asked: $((MINUTES * 60)) s), fault period $PERIOD s"
echo "  program memory:   start ${APP_RSS_START:-?} kB, end $APP_RSS kB, max $APP_RSS_MAX kB"
echo "  tolvaren-sim mem: start ${SIM_RSS_START:-?} kB, end $SIM_RSS kB, max $SIM_RSS_MAX kB"
echo "  snapshots served: $CYCLES"
echo "  faults switched:  $SWITCHES on (each followed by none), $FAULTED requests hit"
echo "  recovery (s):     longest from fault off to the next snapshot, and times seen:"
for name in "${FAULTS[@]}"; do
    name="${name%% *}"
    printf '    %-11s %3s s (%s)\n' "$name" "${RECOVERY_MAX[$name]:--}" \
        "${RECOVERY_COUNT[$name]:-0}"
done
echo "  stuck periods:    $STUCK_PERIODS"
if [[ -n "$CRASHED" ]]; then
    echo "  crash:            $CRASHED"
fi
if [[ -n "$CRASHED" || $STUCK_PERIODS -gt 0 ]]; then
    KEEP_LOGS=1
    echo "FAILED"
    exit 1
fi
echo "PASSED"
