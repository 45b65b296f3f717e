#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing;
# packages named as arguments are added to the list. poppler-utils (pdftoppm,
# pdffonts, pdftotext) reads the PDF maps back in the tests; gdal-bin
# (ogr2ogr) makes the Shapefiles and GeoPackages the tests read; libsqlite3-dev
# lets the GDAL reader check the files SQLite opens; xmllint
# (libxml2-utils) checks that the SVG and HTML written are well-formed;
# cs2cs (proj-bin) projects test data into another coordinate system.
set -e
pkgs="build-essential cmake pkg-config libgtest-dev libbenchmark-dev nlohmann-json3-dev libsimdjson-dev
      libcairo2-dev libpango1.0-dev libcurl4-openssl-dev libpng-dev libjpeg-dev zlib1g-dev libdeflate-dev
      libproj-dev proj-data poppler-utils libgdal-dev libpq-dev libsqlite3-dev gdal-bin libxml2-utils proj-bin $*"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
