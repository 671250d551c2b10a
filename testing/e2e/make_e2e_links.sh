#!/bin/bash
# Builds what the end-to-end suites need from the host, which a Windows
# program under Wine cannot make itself, in folder $1:
#   spelling/installation root    a root for the lock test;
#   spelling/link -> spelling/installation root   a link onto it;
#   drive Y: of each Wine prefix given after $1 -> spelling: another drive
#            letter for the same folders;
#   copy/root/zeltorcg_update_tmp/Client -> a folder on another file system
#            (/dev/shm): a staged client that cannot arrive by rename; the
#            link is missing when the host has no second file system;
#   small    a 4 MiB file system of its own, to fill up; a plain folder when
#            the host lets nobody here mount one;
#   links/folder/Client/saves -> links/target, links/file/Client/settings.txt ->
#            links/target.txt: installations holding a folder link and a file link.
# With "--clean" as $2 it only unmounts what an earlier run mounted.
set -e
dir=$1
shift
umount "$dir/small" 2>/dev/null || true
[ "$1" = --clean ] && exit 0
rm -rf "$dir"
mkdir -p "$dir/spelling/installation root" "$dir/copy/root/zeltorcg_update_tmp"
ln -s "$dir/spelling/installation root" "$dir/spelling/link"
for prefix in "$@"; do
  mkdir -p "$prefix/dosdevices"
  ln -sfn "$dir/spelling" "$prefix/dosdevices/y:"
done
other=/dev/shm/update_e2e_$(echo "$dir" | md5sum | cut -c1-12)
rm -rf "$other"
if mkdir -p "$other/Client" 2>/dev/null && [ "$(stat -c %d "$other")" != "$(stat -c %d "$dir")" ]; then
  ln -s "$other/Client" "$dir/copy/root/zeltorcg_update_tmp/Client"
fi
mkdir -p "$dir/links/target" "$dir/links/folder/Client" "$dir/links/file/Client"
echo saved > "$dir/links/target/save.txt"
echo settings > "$dir/links/target.txt"
ln -s "$dir/links/target" "$dir/links/folder/Client/saves"
ln -s "$dir/links/target.txt" "$dir/links/file/Client/settings.txt"
mkdir -p "$dir/small"
mount -t tmpfs -o size=4m e2e_small "$dir/small" 2>/dev/null || true
