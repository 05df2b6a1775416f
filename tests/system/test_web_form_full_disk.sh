#!/usr/bin/env bash
# Web forms on a full disk: the installation folder lies on a small tmpfs in a mount namespace of
# the test's own and is filled with a file. A UPS page, a list and a system page then answer an
# error (the message page, or an error status when even that page cannot be written), never their
# success reply; agent.ini and the settings in use stay as they were. Once the filler is removed
# the same posts succeed.
if [ -z "${VELLMAR_IN_NETNS:-}" ]; then
  export VELLMAR_IN_NETNS=1
  exec unshare -rmn bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

mount -t tmpfs -o size=64m,mode=0700 tmpfs "$VELLMAR_DIR"
full_disk_cleanup() {
  for p in "${VELLMAR_PIDS[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  umount -l "$VELLMAR_DIR" 2>/dev/null || true
  cleanup
}
trap full_disk_cleanup EXIT

vellmar_install "[Format]
Version=7
[Web]
HTTP Port=80
Enable HTTP=Yes
Enable HTTPS=No
Enable Login Lock=Disable
[Shutdown]
Power Fail Delay=300
[End]
"
INI="$VELLMAR_DIR/agent.ini"
H=http://127.0.0.1
vellmar_start
wait_for "web listener" 15 log_has "IPv4-HTTP: OK"
login "$H" admin quillbox

post() { "${CURL[@]}" -o /dev/null -w '%{redirect_url}' -b "$COOKIE" --data "$2" "$H/orvik/$1"; }
# answer: the status and body of the message page the last post redirected to.
answer() { "${CURL[@]}" -w '\n%{http_code}' -b "$COOKIE" "$H/message.asp"; }
fill_disk() { dd if=/dev/zero of="$VELLMAR_DIR/filler" bs=64k 2>/dev/null || true; sync; }

# Each post: page, form (its token is added), what agent.ini holds once it is saved.
FORMS=(
  "/en/device/dev_config.asp|dev_config|CFG_PF_EN=on&CFG_OSD_PF=120&SUB_SHUTDOWN=Apply|^Power Fail Delay=120"
  "/en/device/dev_forward.asp|dev_iforward|FWD_TARGET_IP=192.0.2.9&FWD_TARGET_PORT=1162&FWD_TARGET_ADD1=Add|^IP1=192.0.2.9"
  "/en/sys_info.asp|sys_info|INF_NAME=Full+disk+rack|^Name=Full disk rack"
)
cp "$INI" "$VELLMAR_DIR/before.ini"
for f in "${FORMS[@]}"; do
  IFS='|' read -r page form fields saved <<<"$f"
  tok=$(token "$H" "$page")
  [ -n "$tok" ] || fail "no token on $page"
  fill_disk
  [ "$(post "$form" "SYS_UCTOKEN=$tok&$fields")" = "$H/message.asp" ] || fail "$form: no message page"
  reply=$(answer)
  code=${reply##*$'\n'}
  [[ "$reply" != *"Update successful"* ]] || fail "$form answered success on a full disk"
  [ "$code" = 500 ] || [[ "$reply" == *"could not be written"* ]] || fail "$form: no error on a full disk: $reply"
  rm -f "$VELLMAR_DIR/filler"
  cmp -s "$VELLMAR_DIR/before.ini" "$INI" || fail "$form changed agent.ini on a full disk"
  ls "$VELLMAR_DIR"/agent.ini.?????? >/dev/null 2>&1 && fail "$form left a temporary settings file"
done
# Nothing of the refused posts is in use.
grep -q 'name="CFG_OSD_PF" value="300"' <<<"$("${CURL[@]}" -b "$COOKIE" "$H/en/device/dev_config.asp")" \
  || fail "the delay of the failed save is in use"
grep -q "192.0.2.9" <<<"$("${CURL[@]}" -b "$COOKIE" "$H/en/device/dev_forward.asp")" \
  && fail "the target of the failed save is listed"
grep -q "Full disk rack" <<<"$("${CURL[@]}" -b "$COOKIE" "$H/en/sys_info.asp")" \
  && fail "the name of the failed save is in use"

# With room again the same posts are saved.
for f in "${FORMS[@]}"; do
  IFS='|' read -r page form fields saved <<<"$f"
  post "$form" "SYS_UCTOKEN=$(token "$H" "$page")&$fields" >/dev/null
  [[ "$(answer)" == *"Update successful"* ]] || fail "$form failed with room on the disk"
  grep -q "$saved" "$INI" || fail "$form not saved with room on the disk"
done
# An upload of a settings file on a full disk says that the file could not be written, not that
# the upload was wrong; with room it is taken.
UPLOAD="UL_SYSTEM=Upload&UL_F_SYSTEM=%5BFormat%5D%0AVersion%3D7%0A%5BWeb%5D%0AEnable+HTTPS%3DNo%0AEnable+Login+Lock%3DDisable%0A%5BShutdown%5D%0APower+Fail+Delay%3D121%0A%5BEnd%5D%0A"
cp "$INI" "$VELLMAR_DIR/before.ini"
tok=$(token "$H" /en/sys_batch.asp)
fill_disk
post sys_batch "SYS_UCTOKEN=$tok&$UPLOAD" > /dev/null
reply=$(answer)
rm -f "$VELLMAR_DIR/filler"
[[ "$reply" != *"mismatched"* ]] || fail "an upload on a full disk was called a wrong file: $reply"
[ "${reply##*$'\n'}" = 500 ] || [[ "$reply" == *"could not be written"* ]] || fail "upload: no error on a full disk: $reply"
cmp -s "$VELLMAR_DIR/before.ini" "$INI" || fail "an upload changed agent.ini on a full disk"
post sys_batch "SYS_UCTOKEN=$(token "$H" /en/sys_batch.asp)&$UPLOAD" > /dev/null
[[ "$(answer)" == *"Upload successful"* ]] || fail "the upload failed with room on the disk"
grep -q $'^Power Fail Delay=121\r$' "$INI" || fail "the upload was not saved with room on the disk"
vellmar_stop
echo "ok"
