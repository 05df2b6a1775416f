#!/bin/sh
# Shuts down an ESXi 5 host with the VMware vSphere command-line tools (vmware-cmd,
# vicfg-hostops) found in the vCLI folder: first its guests when guest shutdown is enabled, then
# the host. The Vellmar service starts it after writing SetVar.ESX65.cmd beside it; the output goes
# to vmware-shutdown.log in this folder.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/SetVar.ESX65.cmd" || exit 1
exec >>"$here/vmware-shutdown.log" 2>&1
stamp() { date '+%m/%d/%Y %H:%M:%S'; }
echo "$(stamp) ESXi 5 host $VM_SERVER: shutdown started"

# The connection goes to the tools in a file readable only by us, never on a command line.
cfg="$here/.vcli-esx5-$$.cfg"
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

if [ "$GUEST_ENABLE" = 1 ]; then
  # One registered guest per line (its .vmx path); "stop soft" asks its operating system to end.
  run vmware-cmd --config "$cfg" -l | while IFS= read -r vmx; do
    [ -n "$vmx" ] || continue
    echo "$(stamp) shutting down guest $vmx"
    run vmware-cmd --config "$cfg" "$vmx" stop soft
  done
fi
run vicfg-hostops --config "$cfg" --operation shutdown --force
echo "$(stamp) ESXi 5 host $VM_SERVER: shutdown requested (result $?)"
