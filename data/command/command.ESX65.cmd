#!/bin/sh
# Shuts down an ESXi 6.5 host with the VMware vSphere command-line tools (esxcli, vicfg-hostops)
# found in the vCLI folder: first its running guests when guest shutdown is enabled, then the host.
# The Vellmar service starts it after writing SetVar.ESX65.cmd beside it; the output goes to
# vmware-shutdown.log in this folder.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/SetVar.ESX65.cmd" || exit 1
exec >>"$here/vmware-shutdown.log" 2>&1
stamp() { date '+%m/%d/%Y %H:%M:%S'; }
echo "$(stamp) ESXi 6.5 host $VM_SERVER: shutdown started"

# The connection goes to the tools in a file readable only by us, never on a command line.
cfg="$here/.vcli-esx65-$$.cfg"
trap 'rm -f "$cfg"' EXIT
(umask 077 && printf 'VI_SERVER = %s\nVI_USERNAME = %s\nVI_PASSWORD = %s\nVI_PROTOCOL = https\n' \
  "$VM_SERVER" "$VM_ACCOUNT" "$VM_PASSWORD" > "$cfg") || exit 1

# run TOOL ARGS...: a tool of the vCLI folder (as it stands, with .pl, or under bin/).
run() {
  name=$1
  shift
  for t in "$VCLI_PATH/$name" "$VCLI_PATH/$name.pl" "$VCLI_PATH/bin/$name" "$VCLI_PATH/bin/$name.pl"; do
    if [ -f "$t" ]; then
      if [ -x "$t" ]; then "$t" "$@"; else perl "$t" "$@"; fi
      return
    fi
  done
  echo "$(stamp) $name not found in $VCLI_PATH"
  return 127
}

guests() { run esxcli --config "$cfg" vm process list | sed -n 's/^ *World ID: *\([0-9][0-9]*\).*/\1/p'; }

if [ "$GUEST_ENABLE" = 1 ]; then
  for id in $(guests); do
    echo "$(stamp) shutting down guest world $id"
    run esxcli --config "$cfg" vm process kill --type=soft --world-id="$id"
  done
  # Give the guests up to 90 seconds to end before the host goes down.
  waited=0
  while [ "$waited" -lt 90 ] && [ -n "$(guests)" ]; do
    sleep 5
    waited=$((waited + 5))
  done
fi
run vicfg-hostops --config "$cfg" --operation shutdown --force
echo "$(stamp) ESXi 6.5 host $VM_SERVER: shutdown requested (result $?)"
