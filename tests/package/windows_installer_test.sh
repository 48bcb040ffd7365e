#!/bin/sh
# The Windows packages, tried under Wine as a user would: the .msi, whose
# summary names the product's language, French, installs
# silently (both programs under Program Files, a Start-menu entry, "Ouvrir
# avec Ostrevane" for .nmea logs), the installed converter runs, and the
# silent uninstall removes every file and registry key it added. The zip
# holds both programs and the licence.
#   windows_installer_test.sh MSI ZIP
set -eu
msi=$1
zip=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine-env.sh"
ostrevane_wine_env "$root/build-windows/wine-prefix"

fail() { echo "ÉCHEC : $*" >&2; exit 1; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
reg_value() { wine reg query "$1" 2>/dev/null | tr -d '\r'; }
reg_has() { wine reg query "$@" >/dev/null 2>&1; }

folder="$WINEPREFIX/drive_c/Program Files/Ostrevane"
start_menu_entries() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Ostrevane.lnk'; }
classes='HKLM\Software\Classes'

# The summary speaks the product's language, French, not wixl's English.
language=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductLanguage" { print $2 }')
template=$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')
[ "$language" = 1036 ] || fail "la langue du produit est « $language » au lieu de 1036 (français)"
[ "$template" = "x64;$language" ] || fail "le résumé du .msi dit « $template » au lieu de « x64;$language »"

wine msiexec /i "$(winpath "$msi")" /qn || fail "l'installation a échoué"
wineserver -w
for file in ostrevane.exe ostrevane-convert.exe LICENSE.txt; do
  [ -f "$folder/$file" ] || fail "$file n'est pas installé"
done
cmp -s "$folder/ostrevane.exe" "$root/build-windows/app/ostrevane.exe" || fail "ostrevane.exe installé diffère"
[ -n "$(start_menu_entries)" ] || fail "pas d'entrée dans le menu Démarrer"
reg_value "$classes\\Ostrevane.nmea\\shell\\open" | grep -q 'Ouvrir avec Ostrevane' ||
  fail "pas de commande « Ouvrir avec Ostrevane »"
reg_value "$classes\\Ostrevane.nmea\\shell\\open\\command" |
  grep -qF '"C:\Program Files\Ostrevane\ostrevane.exe" "%1"' || fail "mauvaise commande d'ouverture"
reg_has "$classes\\.nmea\\OpenWithProgids" /v Ostrevane.nmea ||
  fail ".nmea ne propose pas Ostrevane"
wine "$folder/ostrevane-convert.exe" --version | tr -d '\r' | grep -qx 'ostrevane-convert 1.0' ||
  fail "le convertisseur installé ne démarre pas"

wine msiexec /x "$(winpath "$msi")" /qn || fail "la désinstallation a échoué"
wineserver -w
[ ! -e "$folder" ] || fail "le dossier $folder reste après la désinstallation"
[ -z "$(start_menu_entries)" ] || fail "l'entrée du menu Démarrer reste"
for key in "$classes\\Ostrevane.nmea" "$classes\\.nmea" "$classes\\Applications\\ostrevane.exe" \
  'HKLM\Software\Ostrevane'; do
  ! reg_has "$key" || fail "la clé $key reste après la désinstallation"
done

listing=$(unzip -Z1 "$zip")
for file in Ostrevane/ostrevane.exe Ostrevane/ostrevane-convert.exe Ostrevane/LICENSE.txt; do
  printf '%s\n' "$listing" | grep -qx "$file" || fail "$file manque dans $zip"
done
echo "installateur Windows : installation, conversion et désinstallation sans reste"
