#!/usr/bin/env bash
# Writes a generated site into SITE_FOLDER: a start page linking PAGES pages,
# each with 10 pictures (one of them with a srcset of two more), one or two
# style sheets, a background picture and a font named in CSS, an inline
# style background, a script, and every tenth page a frameset of two frames.
# Shared by the whole-save benchmark and the end-to-end check that such a
# copy is complete offline.
#   generate-site.sh SITE_FOLDER [PAGES]
set -euo pipefail
site=$1
pages=${2:-200}
mkdir -p "$site/img" "$site/css/fonts" "$site/js"

# A picture of about 20 kB, copied under every name; a real font for the CSS.
head -c 20000 /dev/urandom >"$site/picture.bin"
font=$(find /usr/share/fonts -name 'DejaVuSans.ttf' | head -n 1)
cp "$font" "$site/css/fonts/site.ttf"
cat >"$site/css/site.css" <<'CSS'
@import url("parts/headings.css");
@font-face { font-family: "Site"; src: url(fonts/site.ttf) format("truetype"); }
body { font-family: "Site", sans-serif; background: url(../img/paper.png) repeat; }
CSS
mkdir -p "$site/css/parts"
echo 'h1 { background-image: url("../../img/rule.png"); }' >"$site/css/parts/headings.css"
cp "$site/picture.bin" "$site/img/paper.png"
cp "$site/picture.bin" "$site/img/rule.png"
cp "$site/picture.bin" "$site/img/band.png"
echo 'document.getElementById("nav").textContent = "built by the script";' >"$site/js/nav.js"
{
  echo "<html><head><title>Bench start</title><link rel=stylesheet href=\"css/site.css\"></head><body>"
  for i in $(seq 1 "$pages"); do echo "<p><a href=\"page$i.html\">Page $i</a></p>"; done
  echo "</body></html>"
} >"$site/index.html"
for i in $(seq 1 "$pages"); do
  if [ $((i % 10)) -eq 0 ]; then
    {
      echo "<html><head><title>Page $i</title></head>"
      echo "<frameset cols=\"30%,70%\"><frame src=\"menu$i.html\"><frame src=\"body$i.html\"></frameset></html>"
    } >"$site/page$i.html"
    echo "<html><body><a href=\"index.html\" target=_top>start</a><img src=\"img/m$i.png\"></body></html>" >"$site/menu$i.html"
    echo "<html><head><link rel=stylesheet href=\"css/site.css\"></head><body><h1>Body $i</h1></body></html>" >"$site/body$i.html"
    cp "$site/picture.bin" "$site/img/m$i.png"
    continue
  fi
  {
    echo "<html><head><title>Page $i</title><link rel=stylesheet href=\"css/site.css\">"
    if [ $((i % 2)) -eq 0 ]; then
      echo "<link rel=stylesheet href=\"css/p$i.css\">"
      echo "h1 { color: #$((i % 9))$((i % 7))3; }" >"$site/css/p$i.css"
    fi
    echo "<script src=\"js/nav.js\" defer></script></head><body><h1>Page $i</h1><p id=nav></p>"
    echo "<div style=\"background: url('img/band.png')\">band</div>"
    for k in $(seq 1 10); do
      cp "$site/picture.bin" "$site/img/p${i}_$k.png"
      if [ "$k" -eq 1 ]; then
        cp "$site/picture.bin" "$site/img/p${i}_1@2x.png"
        echo "<img src=\"img/p${i}_$k.png\" srcset=\"img/p${i}_$k.png 1x, img/p${i}_1@2x.png 2x\" width=10 height=10>"
      else
        echo "<img src=\"img/p${i}_$k.png\" width=10 height=10>"
      fi
    done
    echo "<p>Text of page $i, with a link back to the <a href=\"index.html\">start</a>.</p></body></html>"
  } >"$site/page$i.html"
done
rm "$site/picture.bin"
