#!/bin/bash
# Builds the link fixture for the file-operation tests in folder $1:
#   target/a.txt, target/sub/b.txt   the tree the links point at
#   tree/file.txt, tree/link -> target   a tree holding a directory link
#   link -> target                   a directory link on its own
#   other -> a folder on another file system (/dev/shm), where a rename from
#            here fails and a move has to copy; empty when there is none
set -e
dir=$1
rm -rf "$dir"
mkdir -p "$dir/target/sub" "$dir/tree"
echo a > "$dir/target/a.txt"
echo b > "$dir/target/sub/b.txt"
echo f > "$dir/tree/file.txt"
ln -s "$dir/target" "$dir/tree/link"
ln -s "$dir/target" "$dir/link"
other=/dev/shm/base_files_links_$(echo "$dir" | md5sum | cut -c1-12)
rm -rf "$other"
if mkdir -p "$other" 2>/dev/null && [ "$(stat -c %d "$other")" != "$(stat -c %d "$dir")" ]; then
  ln -s "$other" "$dir/other"
fi
