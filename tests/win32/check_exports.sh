#!/usr/bin/env bash
# check_exports.sh <ZOLVO_SDK.dll>: the DLL's export table holds the members of
# zolvo_sdk::ZOLVOSDK and zolvo_sdk::CommandInterface (with the class's vtable
# and type information), every public function among them, and nothing else.
set -u -o pipefail
dll=${1:?usage: check_exports.sh ZOLVO_SDK.dll}
[ -f "$dll" ] || { echo "FAIL: no such DLL: $dll"; exit 1; }
# The names between "[Ordinal/Name Pointer] Table" and the next blank line.
names=$(i686-w64-mingw32-objdump -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[\s*[0-9]*\]\s*//p')
[ -n "$names" ] || { echo "FAIL: empty export table in $dll"; exit 1; }
demangled=$(echo "$names" | i686-w64-mingw32-c++filt -n)
echo "$demangled"
status=0
while read -r sym; do
  case $sym in
    zolvo_sdk::ZOLVOSDK::*|zolvo_sdk::CommandInterface::*) ;;
    "vtable for zolvo_sdk::CommandInterface"|"typeinfo for zolvo_sdk::CommandInterface"|"typeinfo name for zolvo_sdk::CommandInterface") ;;
    *) echo "FAIL: exported but not of the two classes: $sym"; status=1 ;;
  esac
done <<<"$demangled"
for f in init unInit setCallBackFun setCommandInterface entry leave finish freeCar pushOrder \
  queryOrder scanningOrder suppOrder uploadFile ZOLVOSDK '~ZOLVOSDK' operator=; do
  grep -q "^zolvo_sdk::ZOLVOSDK::$f(" <<<"$demangled" || { echo "FAIL: not exported: zolvo_sdk::ZOLVOSDK::$f"; status=1; }
done
for f in CommandInterface '~CommandInterface' queryOrder scanQrCodePay scanQrEntry noticeOfPaymentResult; do
  grep -q "^zolvo_sdk::CommandInterface::$f(" <<<"$demangled" || { echo "FAIL: not exported: zolvo_sdk::CommandInterface::$f"; status=1; }
done
grep -qx "vtable for zolvo_sdk::CommandInterface" <<<"$demangled" || { echo "FAIL: not exported: vtable for zolvo_sdk::CommandInterface"; status=1; }
[ $status -eq 0 ] && echo "PASS: $(wc -l <<<"$demangled") exports, all of the two classes"
exit $status
