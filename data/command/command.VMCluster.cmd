#!/bin/sh
# Shuts down every host of one VMware cluster through its vCenter with the vSphere command-line
# tool vicfg-hostops found in the vCLI folder. The Vellmar service starts it once per cluster after
# writing that cluster's SetVar.VMCluster.cmd beside it; the output goes to vmware-shutdown.log in
# this folder.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/SetVar.VMCluster.cmd" || exit 1
exec >>"$here/vmware-shutdown.log" 2>&1
stamp() { date '+%m/%d/%Y %H:%M:%S'; }
echo "$(stamp) cluster $VC_CLUSTER of vCenter $VC_SERVER: shutdown started"

# The connection goes to the tool in a file readable only by us, never on a command line.
cfg="$here/.vcli-cluster-$$.cfg"
trap 'rm -f "$cfg"' EXIT
(umask 077 && printf 'VI_SERVER = %s\nVI_USERNAME = %s\nVI_PASSWORD = %s\nVI_PROTOCOL = https\n' \
  "$VC_SERVER" "$VC_ACCOUNT" "$VC_PASSWORD" > "$cfg") || exit 1

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

run vicfg-hostops --config "$cfg" --cluster "$VC_CLUSTER" --operation shutdown --force
echo "$(stamp) cluster $VC_CLUSTER: shutdown requested (result $?)"
