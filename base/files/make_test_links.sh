#!/bin/bash
# Builds the link fixture for the file-operation tests in folder $1:
#   target/a.txt, target/sub/b.txt   the tree the links point at
#   tree/file.txt, tree/link -> target   a tree holding a directory link
#   link -> target                   a directory link on its own
set -e
dir=$1
rm -rf "$dir"
mkdir -p "$dir/target/sub" "$dir/tree"
echo a > "$dir/target/a.txt"
echo b > "$dir/target/sub/b.txt"
echo f > "$dir/tree/file.txt"
ln -s "$dir/target" "$dir/tree/link"
ln -s "$dir/target" "$dir/link"
