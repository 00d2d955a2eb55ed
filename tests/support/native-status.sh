#!/bin/sh
# Runs a native program for a test: the program's output goes to STATUS.out and its exit status,
# once it ended, to the file STATUS (written in one step). Wine starts native programs from a
# Windows process but does not pass their exit status back; the Windows tests read it here.
# Its own standard handles are the null device: started from Wine, it would otherwise hold
# the test's output open.
exec </dev/null >/dev/null 2>&1
status=$1
shift
"$@" >"$status.out" 2>&1
echo $? >"$status.tmp" && mv "$status.tmp" "$status"
