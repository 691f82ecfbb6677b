#!/bin/sh
# A private PipeWire graph for the tests that play through a real sound
# server: its own runtime folder, session bus, pipewire and wireplumber, and
# a null sink "ql-test-sink" as the default sink (what ALSA "default" reaches
# through pipewire-alsa). Nothing of the user's session or the machine's
# cards takes part.
#
# What the sink plays is tapped inside the server: a loopback from its
# monitor into a pipe sink writing to the FIFO DIR/sink.fifo, both run in
# the server's own cycle. A recorder that is a client of its own (pw-record)
# loses every cycle its process is not scheduled in time for on a loaded
# machine, and such a loss looks like a cut by the player; the tap loses
# nothing while its reader keeps the FIFO from filling. The loopback's link
# also keeps the sink running while nothing plays, so silence is recorded
# as silence.
#
# Usage: sound-server-graph.sh DIR
# Prints "ready" once the sink is the default, then waits on its standard
# input; when that closes (the test ended, or died) or on TERM/INT/HUP it
# ends everything it started, by pid, then its own process group (it is
# started as the leader of one).
set -u
dir=$1
run=$dir/run
conf=$dir/config
mkdir -p "$run" "$conf/pipewire/pipewire.conf.d" "$conf/wireplumber/main.lua.d" \
    "$conf/wireplumber/bluetooth.lua.d" "$dir/state" || exit 1
chmod 700 "$run"
export XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$conf" XDG_STATE_HOME="$dir/state" HOME="$dir"
unset PIPEWIRE_REMOTE PULSE_SERVER DISPLAY WAYLAND_DISPLAY

cat >"$conf/pipewire/pipewire.conf.d/90-ql-test-sink.conf" <<CONF
context.objects = [
    { factory = adapter
      args = {
          factory.name     = support.null-audio-sink
          node.name        = "ql-test-sink"
          node.description = "Quavelark test sink"
          media.class      = Audio/Sink
          audio.position   = [ FL FR ]
          audio.rate       = 48000
          object.linger    = true
          priority.session = 10000
      }
    }
]
context.modules = [
    { name = libpipewire-module-pipe-tunnel
      args = {
          tunnel.mode = sink
          pipe.filename = "$dir/sink.fifo"
          audio.format = F32
          audio.rate = 48000
          audio.channels = 2
          audio.position = [ FL FR ]
          stream.props = {
              node.name = "ql-test-tap"
              priority.session = 1
          }
      }
    }
    { name = libpipewire-module-loopback
      args = {
          audio.position = [ FL FR ]
          capture.props = {
              node.name = "ql-test-tap-in"
              stream.capture.sink = true
              target.object = "ql-test-sink"
              node.dont-reconnect = true
          }
          playback.props = {
              node.name = "ql-test-tap-out"
              target.object = "ql-test-tap"
              node.dont-reconnect = true
          }
      }
    }
]
CONF
# No cards, cameras or Bluetooth: only the null sink is a sink.
cat >"$conf/wireplumber/main.lua.d/90-ql-test.lua" <<'CONF'
if alsa_monitor then alsa_monitor.enabled = false end
if v4l2_monitor then v4l2_monitor.enabled = false end
if libcamera_monitor then libcamera_monitor.enabled = false end
CONF
cat >"$conf/wireplumber/bluetooth.lua.d/90-ql-test.lua" <<'CONF'
if bluez_monitor then bluez_monitor.enabled = false end
CONF

pids=""
finish() {
    trap - EXIT INT TERM HUP
    for p in $pids; do kill -TERM "$p" 2>/dev/null; done
    sleep 0.3
    for p in $pids; do kill -KILL "$p" 2>/dev/null; done
    kill -KILL -- "-$$" 2>/dev/null
    exit 0
}
trap finish EXIT INT TERM HUP

dbus-daemon --session --address="unix:path=$run/bus" --nofork --nopidfile \
    </dev/null >"$dir/dbus.log" 2>&1 &
pids="$pids $!"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$run/bus"
i=0
while [ ! -S "$run/bus" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done

pipewire </dev/null >"$dir/pipewire.log" 2>&1 &
pids="$pids $!"
i=0
while [ ! -S "$run/pipewire-0" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
wireplumber </dev/null >"$dir/wireplumber.log" 2>&1 &
pids="$pids $!"

# Ready once the session manager has made the null sink the default (a
# loaded machine may take a while).
i=0
until pw-dump 2>/dev/null | grep -q '"default.audio.sink".*"ql-test-sink"' &&
    pw-link -l 2>/dev/null | grep -q 'ql-test-tap:playback_FR'; do
    i=$((i + 1))
    if [ $i -ge 300 ]; then
        echo "the test sink did not become the default, or its tap is not linked" >&2
        exit 1
    fi
    sleep 0.1
done
echo ready
# Until the test lets go (or dies: its end of the pipe closes).
cat >/dev/null
