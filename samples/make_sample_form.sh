#!/usr/bin/env bash
# Makes samples/modulo_esempio.jpg: an A4 application form scanned at 300 dpi, with
# printed fields, a passport photograph and a handwritten signature, for trying the
# workspace without a scanner. Needs ImageMagick (scripts/setup installs it).
# The person is invented.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/modulo_esempio.jpg}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

sans=Liberation-Sans
bold=Liberation-Sans-Bold
mono=Liberation-Mono

# The photograph: 35 x 45 mm at 300 dpi.
convert -size 413x531 gradient:'rgb(214,222,232)-rgb(168,182,200)' \
  -fill 'rgb(44,50,66)' -draw "ellipse 206,600 210,150 0,360" \
  -fill 'rgb(235,235,240)' -draw "polygon 160,460 206,531 252,460 230,440 182,440" \
  -fill 'rgb(200,150,120)' -draw "roundrectangle 176,330 236,450 20,20" \
  -fill 'rgb(222,176,144)' -draw "ellipse 206,250 92,118 0,360" \
  -fill 'rgb(210,162,130)' -draw "ellipse 116,262 14,26 0,360" -draw "ellipse 296,262 14,26 0,360" \
  -fill 'rgb(58,40,30)' -draw "ellipse 206,170 100,70 180,360" -draw "ellipse 206,150 96,48 0,360" \
  -draw "ellipse 120,200 14,52 0,360" -draw "ellipse 292,200 14,52 0,360" \
  -fill white -draw "ellipse 170,248 17,9 0,360" -draw "ellipse 242,248 17,9 0,360" \
  -fill 'rgb(70,90,60)' -draw "circle 170,248 170,256" -draw "circle 242,248 242,256" \
  -fill black -draw "circle 170,248 170,252" -draw "circle 242,248 242,252" \
  -stroke 'rgb(60,42,32)' -strokewidth 5 -fill none \
  -draw "path 'M 148,226 Q 170,214 192,224'" -draw "path 'M 220,224 Q 242,214 264,226'" \
  -stroke 'rgb(180,130,105)' -strokewidth 3 -draw "path 'M 206,256 Q 200,290 194,298 Q 206,306 220,298'" \
  -stroke 'rgb(160,80,80)' -strokewidth 5 -draw "path 'M 178,330 Q 206,346 234,330'" \
  -blur 0x1.6 -attenuate 0.6 +noise Gaussian \
  -bordercolor 'rgb(120,120,120)' -border 1 \
  "$work/photo.png"

# The signature, in ballpoint blue.
convert -size 900x220 xc:none -stroke 'rgb(22,36,120)' -strokewidth 5 -fill none \
  -draw "path 'M 30,150 C 60,40 110,30 100,120 S 70,190 130,150 C 170,120 180,80 200,90 C 220,100 190,170 230,150 C 260,135 270,110 290,120 C 310,130 290,160 320,150 C 350,140 360,90 390,100'" \
  -draw "path 'M 420,160 C 450,60 470,40 480,60 C 490,80 450,170 470,170 C 500,170 520,110 540,115 C 560,120 530,160 560,158 C 590,156 600,120 620,122 C 640,124 620,160 650,155 C 700,148 760,110 860,95'" \
  -draw "path 'M 80,185 C 300,200 600,190 820,170'" \
  -blur 0x0.8 \
  "$work/signature.png"

# The page.
convert -size 2480x3508 xc:'rgb(250,249,244)' \
  -font "$bold" -pointsize 64 -fill 'rgb(30,30,30)' \
  -annotate +180+300 'AGENZIA PRATICHE AUTOMOBILISTICHE' \
  -font "$sans" -pointsize 44 -annotate +180+380 'Sportello conducenti professionali - modulo di esempio, dati inventati' \
  -font "$bold" -pointsize 56 -annotate +180+560 'DOMANDA DI RILASCIO DELLA CARTA DI QUALIFICAZIONE' \
  -font "$sans" -pointsize 40 -annotate +180+630 'Modulo TT 2112 - da compilare in stampatello' \
  -stroke 'rgb(40,40,40)' -strokewidth 4 -fill none -draw "rectangle 1890,700 2310,1240" \
  -strokewidth 2 -draw "line 180,680 1800,680" \
  -stroke none -fill 'rgb(60,60,60)' -font "$sans" -pointsize 30 \
  -annotate +1930+1285 'Fotografia recente formato tessera' \
  -fill 'rgb(30,30,30)' -pointsize 42 \
  -annotate +180+800 'Cognome' -annotate +180+920 'Nome' -annotate +180+1040 'Data di nascita' \
  -annotate +180+1160 'Luogo di nascita' -annotate +180+1280 'Codice fiscale' \
  -annotate +180+1400 'Indirizzo di residenza' -annotate +180+1520 'Comune e provincia' \
  -annotate +180+1640 'Patente di guida n.' -annotate +180+1760 'Categoria richiesta' \
  -stroke 'rgb(90,90,90)' -strokewidth 2 \
  -draw "line 640,810 1800,810" -draw "line 640,930 1800,930" -draw "line 640,1050 1800,1050" \
  -draw "line 640,1170 1800,1170" -draw "line 640,1290 1800,1290" -draw "line 640,1410 2310,1410" \
  -draw "line 640,1530 2310,1530" -draw "line 640,1650 2310,1650" -draw "line 640,1770 2310,1770" \
  -stroke none -fill 'rgb(20,20,70)' -font "$mono" -pointsize 50 \
  -annotate +680+795 'BIANCHI' -annotate +680+915 'LUCA' -annotate +680+1035 '14/03/1979' \
  -annotate +680+1155 'TRENTO (TN)' -annotate +680+1275 'BNCLCU79C14L378X' \
  -annotate +680+1395 'VIA DEI CAMPI 12' -annotate +680+1515 'ROVERETO (TN)' \
  -annotate +680+1635 'TN5012345X' -annotate +680+1755 'CQC PERSONE' \
  -fill 'rgb(30,30,30)' -font "$sans" -pointsize 38 \
  -annotate +180+1960 'Il sottoscritto dichiara, sotto la propria responsabilita, che i dati sopra riportati' \
  -annotate +180+2020 'sono veritieri e autorizza il trattamento dei dati personali ai soli fini del rilascio.' \
  -annotate +180+2180 'Luogo e data' -annotate +1300+2180 'Firma del richiedente' \
  -fill 'rgb(20,20,70)' -font "$mono" -pointsize 46 -annotate +180+2280 'ROVERETO, 02/12/2026' \
  -stroke 'rgb(40,40,40)' -strokewidth 3 -fill none -draw "rectangle 1300,2220 2310,2500" \
  -stroke 'rgb(90,90,90)' -strokewidth 2 -draw "line 180,2300 1100,2300" \
  -stroke none -fill 'rgb(30,30,30)' -font "$bold" -pointsize 40 -annotate +180+2700 'SPAZIO RISERVATO ALL UFFICIO' \
  -stroke 'rgb(40,40,40)' -strokewidth 2 -fill none -draw "rectangle 180,2740 2310,3250" \
  -stroke none -fill 'rgb(120,120,120)' -font "$sans" -pointsize 30 -annotate +180+3380 'Mod. TT 2112 - Pagina 1 di 1' \
  "$work/photo.png" -geometry +1895+705 -composite \
  "$work/signature.png" -geometry +1350+2250 -composite \
  "$work/page.png"

# A flatbed scan: a slight skew, a little sensor noise, JPEG at 300 dpi.
convert "$work/page.png" -background 'rgb(250,249,244)' -rotate 0.35 -gravity center -extent 2480x3508 \
  -attenuate 0.25 +noise Gaussian -blur 0x0.5 \
  -units PixelsPerInch -density 300 -sampling-factor 2x2 -quality 82 -strip "$out"

size=$(stat -c %s "$out")
if [ "$size" -gt 1048576 ]; then
  echo "make_sample_form: $out is $size bytes, more than 1 MB" >&2
  exit 1
fi
echo "make_sample_form: wrote $out ($size bytes)"
