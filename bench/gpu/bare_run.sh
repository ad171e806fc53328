#!/usr/bin/env bash
# Runs bench/gpu/run.sh on the bundle inside a bare root: glibc and the shell tools run.sh uses, nothing else of
# this machine's /usr, so that any library or data file the bundle lacks shows up here rather than on the GPU
# machine. Needs root (a private mount namespace and chroot). Usage: bench/gpu/bare_run.sh BUNDLE.tar.xz OUTDIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: bench/gpu/bare_run.sh BUNDLE.tar.xz OUTDIR"; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "bare_run: needs root for chroot"; exit 1; }
bundle=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
here=$(dirname "$(realpath "$0")")

bare=$(mktemp -d "${TMPDIR:-/tmp}/velquorin-bare.XXXXXX")
trap 'rm -rf --one-file-system "$bare"' EXIT
mkdir -p "$bare"/usr/{bin,lib/x86_64-linux-gnu,lib64} "$bare"/{dev,proc,sys,work,out} "$bare/tmp"
chmod 1777 "$bare/tmp"
for link in bin lib lib64; do ln -s "usr/$link" "$bare/$link"; done

# glibc, as any x86-64 Linux machine has it, and the tools run.sh calls with the libraries they need.
tools=(bash sh env tar xz mktemp rm mkdir cat sleep date grep sed head tail tee tr seq timeout cut wc ldd)
cp -L /lib64/ld-linux-x86-64.so.2 "$bare/usr/lib64/"
for library in libc.so.6 libm.so.6 libdl.so.2 libpthread.so.0 librt.so.1 libresolv.so.2 libutil.so.1; do
    cp -L "/lib/x86_64-linux-gnu/$library" "$bare/usr/lib/x86_64-linux-gnu/"
done
for tool in "${tools[@]}"; do
    path=$(command -v "$tool")
    cp -L "$path" "$bare/usr/bin/"
    { ldd "$path" 2>/dev/null || true; } | while read -r _ arrow library _; do
        [ "$arrow" = "=>" ] && [ ! -e "$bare/usr/lib/x86_64-linux-gnu/$(basename "$library")" ] &&
            cp -L "$library" "$bare/usr/lib/x86_64-linux-gnu/"
        true
    done
done
cp "$bundle" "$bare/work/bundle.tar.xz"
cp "$here/run.sh" "$bare/work/run.sh"

status=0
unshare -m bash -c '
    set -e
    mount --make-rprivate /
    mount --rbind /dev "$1/dev"
    mount --rbind /sys "$1/sys"
    mount -t proc proc "$1/proc"
    exec chroot "$1" /usr/bin/env -i PATH=/usr/bin HOME=/tmp TMPDIR=/tmp bash /work/run.sh /work/bundle.tar.xz /out
' bare "$bare" || status=$?
cp -r "$bare/out/." "$out/"
echo "bare_run: run.sh ended with status $status; its files are in $out"
exit $status
