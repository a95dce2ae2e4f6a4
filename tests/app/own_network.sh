#!/bin/sh
# Runs a command in a network of its own, with only its own loopback: the
# device it starts then shares no port with the devices other tests start
# beside it. Used only where the build found that the host allows it.
exec unshare --net -- sh -c 'ip link set lo up && exec "$@"' sh "$@"
