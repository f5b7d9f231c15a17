# The Debian 13 system that builds the GIMP 3 plug-in and runs GIMP 3 for its
# tests: GIMP 3.0, libgimp-3.0-dev, GEGL 0.4.62, g++ and Xvfb, made with
# debootstrap from the package registry this machine's apt already uses. It
# lives outside the checkout, where every later run on the machine finds it
# ($CELLUMBRA_GIMP3_SYSTEM, else /var/cache/cellumbra/debian13-gimp3), and is
# made again when missing or incomplete: a marker written last, holding the
# package list, says it is whole. About 65 s and 1.4 GB.
#
# Sourced, not run:
#   gimp3_system_enter   lock, make when needed, bind /proc, /sys, /dev (with
#                        pts and shm) and an exchange folder ($gimp3_exchange
#                        on this side, /exchange inside); unbound on exit
#   gimp3_in_system CMD  runs CMD inside, as root, with a clean environment
#
# Never the host's /tmp: a folder bound into the system reaches the host's
# own files, and an rm -rf of the system while bound would reach them too.
# Nothing is deleted while anything is mounted below it.

gimp3_system=${CELLUMBRA_GIMP3_SYSTEM:-/var/cache/cellumbra/debian13-gimp3}
gimp3_packages=(gimp libgimp-3.0-dev libgegl-dev gegl g++ pkg-config binutils xvfb xauth xdotool imagemagick
  python3-gi gir1.2-gimp-3.0 gir1.2-gegl-0.4 gir1.2-babl-0.1 dbus-x11 dbus-bin librsvg2-common
  fonts-dejavu-core shared-mime-info)
gimp3_marker=$gimp3_system/.cellumbra-complete
gimp3_mounts=(proc sys dev dev/pts dev/shm exchange)
gimp3_exchange=

gimp3_say() { echo "gimp3-system: $*" >&2; }

# The registry this machine's apt reads Debian from: the first URI of a deb822
# stanza or a one-line entry that serves the main archive (not security).
gimp3_registry() {
  local f url=
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    url=$(awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' "$f")
    [ -n "$url" ] && break
  done
  if [ -z "$url" ]; then
    url=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($i !~ /security/) { print $i; exit } } }')
  fi
  echo "$url"
}

# Everything mounted at or below the system, deepest first.
gimp3_mounted() {
  awk -v root="$gimp3_system" '{ gsub(/\\040/, " ", $5); if ($5 == root || index($5, root "/") == 1) print $5 }' \
    /proc/self/mountinfo | sort -r
}

gimp3_unmount() {
  local m
  while read -r m; do
    [ -n "$m" ] || continue
    umount "$m" 2>/dev/null || umount -l "$m" || gimp3_say "could not unmount $m"
  done < <(gimp3_mounted)
}

gimp3_mount() {
  mkdir -p "$gimp3_system/exchange"
  mount -t proc proc "$gimp3_system/proc" &&
    mount --bind /sys "$gimp3_system/sys" &&
    mount --bind /dev "$gimp3_system/dev" &&
    mount --bind /dev/pts "$gimp3_system/dev/pts" &&
    mount --bind /dev/shm "$gimp3_system/dev/shm" &&
    mount --bind "$gimp3_exchange" "$gimp3_system/exchange"
}

gimp3_in_system() {
  chroot "$gimp3_system" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

# Whether the system holds what it is made for: the marker and its list.
gimp3_complete() {
  [ -f "$gimp3_marker" ] && [ "$(cat "$gimp3_marker")" = "${gimp3_packages[*]}" ]
}

gimp3_make() {
  local url started=$SECONDS
  if [ -n "$(gimp3_mounted)" ]; then
    gimp3_say "$gimp3_system still has something mounted; not deleting it"
    return 1
  fi
  if [ -e "$gimp3_system" ]; then
    gimp3_say "$gimp3_system is incomplete (an interrupted run, or another package list); making it again"
    rm -rf "$gimp3_system"
  fi
  command -v debootstrap >/dev/null || {
    gimp3_say "installing debootstrap"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  } || return 1
  url=$(gimp3_registry)
  [ -n "$url" ] || { gimp3_say "no Debian registry found in this machine's apt sources"; return 1; }
  gimp3_say "making a Debian 13 system with GIMP 3 in $gimp3_system: about a minute, more while packages download"
  mkdir -p "$(dirname "$gimp3_system")"
  debootstrap --variant=minbase trixie "$gimp3_system" "$url" >"$gimp3_system.log" 2>&1 ||
    { tail -n 20 "$gimp3_system.log" >&2; return 1; }
  # No service starts inside: no init runs there.
  printf '#!/bin/sh\nexit 101\n' >"$gimp3_system/usr/sbin/policy-rc.d"
  chmod 755 "$gimp3_system/usr/sbin/policy-rc.d"
  gimp3_mount || return 1
  { gimp3_in_system apt-get update -qq &&
    gimp3_in_system env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${gimp3_packages[@]}" &&
    gimp3_in_system apt-get clean; } >>"$gimp3_system.log" 2>&1 || { tail -n 20 "$gimp3_system.log" >&2; return 1; }
  echo "${gimp3_packages[*]}" >"$gimp3_marker"
  gimp3_say "made in $((SECONDS - started)) s"
}

gimp3_leave() {
  gimp3_unmount
  [ -z "$gimp3_exchange" ] || rm -rf "$gimp3_exchange"
  gimp3_exchange=
}

gimp3_system_enter() {
  [ "$(id -u)" -eq 0 ] || { gimp3_say "needs root (chroot and mounts)"; return 1; }
  mkdir -p "$(dirname "$gimp3_system")"
  # One user of the system at a time on this machine: the mounts are shared.
  exec 8>"$gimp3_system.lock"
  if ! flock -n 8; then
    gimp3_say "waiting for another run that uses $gimp3_system"
    flock 8
  fi
  gimp3_exchange=$(mktemp -d "${TMPDIR:-/tmp}/cellumbra-gimp3.XXXXXX")
  chmod 755 "$gimp3_exchange"
  trap 'gimp3_leave' EXIT
  trap 'exit 130' INT TERM
  # Left by a run that was killed.
  gimp3_unmount
  if ! gimp3_complete; then gimp3_make || return 1; gimp3_unmount; fi
  gimp3_mount || { gimp3_say "could not mount into $gimp3_system"; return 1; }
}
