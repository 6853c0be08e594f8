#!/bin/sh
# Interrupts a long render and checks that the tool's own handler ends it:
# SIGTERM must give exit status 143 and SIGINT 130 (a death by the signal
# itself, without the handler, is reported as such and fails), and neither
# may leave the image or a temporary file behind.
# Usage: interrupt_test.sh PREVIEW FOLDER
set -u
preview=$1
folder=$2
rm -rf "$folder"
mkdir -p "$folder"
failed=0
for signal in TERM INT; do
    image=$folder/interrupted.png
    # perl forks, runs the preview, sends the signal after a second and says
    # how the child ended: "exit N" or "signal N".
    ended=$(perl -e '
        my ($signal, @command) = @ARGV;
        my $pid = fork();
        # Its summary line would mix with the verdict on stdout: silence it.
        if ($pid == 0) { open(STDOUT, ">", "/dev/null"); exec(@command) or exit(127); }
        sleep(1);
        kill($signal, $pid);
        # A child that ignores the signal is stopped after ten seconds.
        local $SIG{ALRM} = sub { kill("KILL", $pid); };
        alarm(10);
        waitpid($pid, 0);
        print(($? & 127) ? "signal " . ($? & 127) : "exit " . ($? >> 8));
    ' "$signal" "$preview" --width 2000 --height 2000 --spp 64 --method 2 --samples 64 \
        --output "$image")
    case $signal in TERM) expected="exit 143" ;; INT) expected="exit 130" ;; esac
    if [ "$ended" != "$expected" ]; then
        echo "SIG$signal: the preview ended with '$ended', expected '$expected'"
        failed=1
    fi
    left=$(ls -A "$folder")
    if [ -n "$left" ]; then
        echo "SIG$signal: files left behind: $left"
        failed=1
        rm -f "$folder"/*
    fi
done
exit $failed
